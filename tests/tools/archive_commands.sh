#!/usr/bin/env bash
# mkupdate list, test and extract on hand-built archives: the worked example of
# the format (attached to a 512-byte host and standing alone), an entry of two
# segments, an empty entry, damaged files and bad usage.
source "$(dirname "$0")/lib/tool_lib.sh"
cd "$WORK"

# The worked example, row by row: directory, records, segments, tail.
example() {
  hex 40 00 00 00   02 00 00 00   00 00 10 00                 # D = 64, N = 2, segment size
  hex 05 00 00 00   40 00 00 00   03 00 00 00   0B 00 00 00   C5 73 6F 58   61 2E 74 78 74
  hex 07 00 00 00   4F 00 00 00   0E 00 00 00   14 00 00 00   E0 73 6F 58   62 5C 63 2E 74 78 74
  hex 0B 00 00 00   "$ABC"
  hex 14 00 00 00   "$LINES"
}
head -c 512 /dev/zero | tr '\0' 'H' >host.bin
{ cat host.bin; example; hex 00 02 00 00 11 11 00 00; } >attached.exe
example >standalone.vpa
[ "$(stat -c %s attached.exe)" -eq 623 ] || fail "worked example is not 623 bytes"

# An entry of two segments (storedSize = both with their length fields, minus 4),
# an empty entry and one in a sub-folder; stand-alone, D = 104.
{
  u32 104; u32 3; u32 1048576
  record multi.txt 104 17 35 $STAMP_A
  record empty.dat 143 0 8 $STAMP_B
  record 'sub\deep\z.txt' 155 3 11 $STAMP_A
  segment "$ABC"; segment "$LINES"; segment "$EMPTY"; segment "$ABC"
} >multi.vpa

# --- list: one line per entry, both forms of the example ----------------------
expected_list=$'a.txt\t3\t11\t1\t2024-03-15 14:30:10\nb\\c.txt\t14\t20\t1\t2024-03-15 14:31:00'
for f in attached.exe standalone.vpa; do
  run list $f; expect_rc 0 "list $f"
  [ "$OUT" = "$expected_list" ] || fail "list $f printed: $OUT"
done
run list multi.vpa; expect_rc 0 "list multi"
expect_in $'multi.txt\t17\t35\t2\t' "$OUT" "list multi, two segments"
expect_in $'empty.dat\t0\t8\t1\t2024-03-15 14:31:00' "$OUT" "list multi, empty entry"

# --- test: sound archives ------------------------------------------------------
for f in attached.exe standalone.vpa multi.vpa; do
  run test $f; expect_rc 0 "test $f"
  expect_in "0 damaged" "$OUT" "test $f"
done

# --- extract: content, sub-folders and stamps (local time) ---------------------
run extract attached.exe ex1; expect_rc 0 "extract example"
[ "$(cat ex1/a.txt)" = abc ] || fail "a.txt content"
[ "$(cat ex1/b/c.txt)" = $'line1\r\nline2\r' ] || fail "b/c.txt content"
[ "$(mtime ex1/a.txt)" = "$(epoch_of '2024-03-15 14:30:10')" ] || fail "a.txt stamp $(mtime ex1/a.txt)"
[ "$(mtime ex1/b/c.txt)" = "$(epoch_of '2024-03-15 14:31:00')" ] || fail "b/c.txt stamp"
run extract multi.vpa ex2; expect_rc 0 "extract multi"
[ "$(cat ex2/multi.txt)" = $'abcline1\r\nline2\r' ] || fail "two segments joined in order"
[ -f ex2/empty.dat ] && [ ! -s ex2/empty.dat ] || fail "empty entry extracts to an empty file"
[ "$(mtime ex2/empty.dat)" = "$(epoch_of '2024-03-15 14:31:00')" ] || fail "empty entry stamp"
[ "$(cat ex2/sub/deep/z.txt)" = abc ] || fail "sub-folders created"

# --- damaged files: exit 1, the entry named -------------------------------------
cp standalone.vpa flipped.vpa   # last byte of the Adler-32 of "abc" (0x4E)
printf '\x28' | dd of=flipped.vpa bs=1 seek=$((0x4E)) conv=notrunc 2>/dev/null
head -c $((0x60)) standalone.vpa >cut.vpa   # ends inside the second entry's stream
cp multi.vpa cutmulti.vpa   # second segment of multi.txt claims more bytes than the file has
printf '\x00\x00\x00\x7f' | dd of=cutmulti.vpa bs=1 seek=$((104 + 4 + 11)) conv=notrunc 2>/dev/null
while IFS='|' read -r file entry why; do
  run test $file; expect_rc 1 "test $file"
  expect_in "$entry: $why" "$ERR" "test $file"
  run extract $file "ex_$file"; expect_rc 1 "extract $file"
  expect_in "$entry" "$ERR" "extract $file"
done <<'TABLE'
flipped.vpa|a.txt|cannot be inflated (the updater's message: "data error")
cut.vpa|b\c.txt|segment cut short
cutmulti.vpa|multi.txt|segment cut short
TABLE

# A recorded length that differs is a warning only; with a stored size that
# takes in the next entry's segment (inflating without an error) it is damage.
bad_dir() { cp standalone.vpa "$1"; printf "$2" | dd of="$1" bs=1 seek="$3" conv=notrunc 2>/dev/null; }
bad_dir longer.vpa '\x07' $((0x14))                 # a.txt records 7 bytes, inflates to 3
bad_dir takes_next.vpa '\x23' $((0x18))             # a.txt's stored size 35 reaches over b\c.txt
run test longer.vpa; expect_rc 0 "test longer"
expect_in "warning: a.txt: inflates to 3 bytes, directory says 7" "$ERR" "test longer warns"
run check longer.vpa
expect_in "warning: a.txt: inflates to 3 bytes, directory says 7" "$OUT" "check longer warns"
run test takes_next.vpa; expect_rc 1 "test takes_next"
expect_in "a.txt: inflates to 17 bytes, directory says 3, and its data overlaps another entry" "$ERR" "test takes_next"
run check takes_next.vpa; expect_rc 1 "check takes_next"

# Directories that contradict themselves: nothing listed, exit 1.
bad_dir huge_d.vpa '\x00\x00\x00\x7f' 0       # D far beyond the file
bad_dir small_d.vpa '\x08\x00\x00\x00' 0      # D below 12
bad_dir long_name.vpa '\xc8' $((0x0C))        # name length 200
bad_dir past_d.vpa '\x07\x00\x00\x00' 4       # 7 records do not fit in D
bad_dir far_data.vpa '\x00\x00\x00\x40' $((0x10))  # data offset beyond the file
for f in huge_d small_d long_name past_d; do
  for cmd in list test; do
    run $cmd $f.vpa; expect_rc 1 "$cmd $f"
    expect_in "$f.vpa: no update package, or a damaged one (the updater's message: \"Daten können nicht geladen werden." "$ERR" "$cmd $f"
  done
done
run test far_data.vpa; expect_rc 1 "test far_data"
: >empty.vpa
run list empty.vpa; expect_rc 1 "list of an empty file"
run list does-not-exist.vpa; expect_rc 1 "list of a missing file"
expect_in "does-not-exist.vpa: cannot be opened" "$ERR" "missing file message"

# --- names that leave the folder are never written ------------------------------
for name in '..\evil.txt' 'a\..\..\evil.txt' '\evil.txt' 'C:evil.txt'; do
  n=${#name}
  { u32 $((12 + 20 + n)); u32 1; u32 1048576; record "$name" $((32 + n)) 3 11 $STAMP_A; segment "$ABC"; } >escape.vpa
  rm -rf jail evil.txt; mkdir -p jail
  run extract escape.vpa jail/inner; expect_rc 1 "extract $name"
  expect_in "$name" "$ERR" "extract $name names the entry"
  [ -z "$(find . -name evil.txt)" ] || fail "$name was written: $(find . -name evil.txt)"
done

# --- bad usage: exit 2, the argument named, the usage of that command alone --------
while IFS='#' read -r args text; do
  run $args; expect_rc 2 "usage: mkupdate $args"
  expect_in "$text" "$ERR" "usage: mkupdate $args"
  usages=$(grep -c '^usage: mkupdate' <<< "$ERR")
  case "$text" in
    "mkupdate: "*|"usage: "*) [ "$usages" -gt 5 ] || fail "mkupdate $args: not the whole usage: $ERR" ;;
    *) [ "$usages" = 1 ] && grep -q "^usage: mkupdate ${args%% *} " <<< "$ERR" || fail "mkupdate $args: usage of $args only: $ERR" ;;
  esac
done <<'TABLE'
#usage: mkupdate build
list#mkupdate list: missing FILE
list a b#mkupdate list: unexpected argument b
test#mkupdate test: missing FILE
extract attached.exe#mkupdate extract: missing DIR
frobnicate attached.exe#mkupdate: unknown command frobnicate
build -o out.vpa#mkupdate build: missing DIR
build pkg#mkupdate build: missing -o OUT
build pkg -o#mkupdate build: -o wants a value
build --frob -o out.vpa pkg#mkupdate build: unknown option --frob
build --threads 0 -o out.vpa pkg#mkupdate build: --threads wants a number from 1 to 256
check#mkupdate check: missing DIR|FILE
check pkg --jsn#mkupdate check: unknown option --jsn
TABLE
finish
