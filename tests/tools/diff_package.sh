#!/usr/bin/env bash
# mkupdate diff on small releases: what it writes (entries, deletions, the
# control file and its options) and what it refuses before writing anything.
source "$(dirname "$0")/lib/tool_lib.sh"
cd "$WORK"

put() { mkdir -p "$(dirname "$1")"; printf '%s' "$2" > "$1"; }
releases() {  # two small releases: old/ and new/, one changed file, one deleted
  rm -rf old new pkg
  put old/app.exe 'v1'; put old/keep.txt 'same'; put old/sub/gone.txt 'x'
  put new/app.exe 'v2'; put new/keep.txt 'same'
  touch -d '2024-01-01 10:00:00' old/app.exe old/keep.txt old/sub/gone.txt new/keep.txt
  touch -d '2024-02-01 10:00:00' new/app.exe
}
ini() { iconv -f CP1252 -t UTF-8 < pkg/update.ini | tr -d '\r'; }

# --- options become update.ini; an existing update.ini is kept ------------------
releases
run diff --section Prog --project Tarnix-Kunde --from 4.0..4.1.9 --to 4.2 old new -o pkg; expect_rc 0 "diff"
case "$ERR" in *warning*) fail "a range and a later --to warned: $ERR" ;; esac
expected='; Tarnix-Kunde: update made by mkupdate diff
P=Tarnix-Kunde
V=4.2
VChk="4.0"<=R\Tarnix.exe\Projects\Tarnix-Kunde\Ver\<="4.1.9"
VResult=R\Tarnix.exe\Projects\Tarnix-Kunde\Ver\=4.2

[Prog]
N=Prog
TDIR=§R\Tarnix.exe\Projects\Tarnix-Kunde\Dir\
VChk="4.0"<=R\Tarnix.exe\Projects\Tarnix-Kunde\Ver\<="4.1.9"'
[ "$(ini)" = "$expected" ] || fail "update.ini: $(ini)"
[ "$(find pkg -type f | sort | tr '\n' ' ')" = "pkg/add/Prog/app.exe pkg/todel.txt pkg/update.ini " ] || fail "files: $(find pkg -type f)"
[ "$(cat pkg/todel.txt)" = $'Prog\\sub\\gone.txt\r' ] || fail "todel.txt: $(cat pkg/todel.txt)"
[ "$(mtime pkg/add/Prog/app.exe)" = "$(mtime new/app.exe)" ] || fail "the copy keeps NEW's stamp"
run diff --section Prog old new -o pkg; expect_rc 1 "a second diff into the same folder"
expect_in "add/Prog: already there" "$ERR" "second diff"
releases
run diff --section Prog --rollback old new -o pkg; expect_rc 0 "diff --rollback"
[ "$(ini | tail -n 2)" = $'TDIR=§R\\Tarnix.exe\\Projects\\Prog\\Dir\\\nROLLBACK=1' ] || fail "--rollback: $(ini)"
run check pkg; expect_rc 0 "check on what diff --rollback wrote"
releases
run diff --section Prog --rebootok old new -o pkg; expect_rc 0 "diff --rebootok"
[ "$(ini | tail -n 1)" = 'REBOOTOK=1' ] || fail "--rebootok: $(ini)"
run diff --section Prog --rollback --rebootok old new -o pkg2; expect_rc 2 "--rollback with --rebootok"
releases
run diff --section Prog --check-cmd '"%§R\Tarnix.exe\Projects\Prog\Dir\%\app.exe" /selftest=1' --check-wait 30 old new -o pkg
expect_rc 0 "diff --check-cmd"
[ "$(ini | sed -n 3,4p)" = $'CheckCmd="%§R\\Tarnix.exe\\Projects\\Prog\\Dir\\%\\app.exe" /selftest=1\nCheckWait=30' ] ||
  fail "--check-cmd: $(ini)"
run check pkg; expect_rc 0 "check on what diff --check-cmd wrote"; [ "$OUT" = "0 error(s), 0 warning(s)" ] || fail "$OUT"
run build -o c.vpa pkg; expect_rc 0 "build with a check"
run list --json c.vpa
python3 -c 'import json,sys; d=json.load(sys.stdin)
sys.exit(not (d["check_cmd"].endswith("app.exe\" /selftest=1") and d["check_wait"] == 30 and "rollback" not in d))' <<< "$OUT" ||
  fail "list --json of a package with a check: $OUT"

releases; mkdir pkg; printf 'P=Mine\r\n' > pkg/update.ini; cp /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf new/Deja.TTF
run diff --section Prog old new -o pkg; expect_rc 0 "diff with an update.ini of the author's"
[ "$(cat pkg/update.ini)" = $'P=Mine\r' ] || fail "the author's update.ini overwritten"
expect_in "update.ini kept; it needs the line FONT=Deja.TTF,DejaVu Sans" "$ERR" "FONT line for a kept update.ini"
[ -f pkg/Deja.TTF ] || fail "font at the package's top level"

# --- refusals: exit code, the reason, nothing written ----------------------------
long=$(printf 'n%.0s' $(seq 115))
while IFS='|' read -r rc text options setup; do
  releases
  eval "$setup"
  eval run diff "$options" old new -o pkg; expect_rc "$rc" "refusal '$text'"
  expect_in "$text" "$ERR" "refusal '$text'"
  [ ! -e pkg ] || fail "refusal '$text' wrote $(find pkg)"
done <<TABLE
1|sub/$long: its package name add\\Prog\\sub\\$long is 128 bytes|--section Prog|put "new/sub/$long" x
1|ā.txt: name not representable in code page 1252|--section Prog|put new/ā.txt x
1|NEW: READ.ME and Read.me: names that differ only in letter case|--section Prog|put new/Read.me 1; put new/READ.ME 2
1|a:b.txt: name holds a character that Windows does not allow|--section Prog|put new/a:b.txt x
1|sub: a folder in OLD and a file in NEW|--section Prog|put new/sub x
1|app.exe: a file in OLD and a folder in NEW|--section Prog|rm new/app.exe; put new/app.exe/x x
1|app.exe: changed, but its stamp is not later than OLD's copy|--section Prog|touch -d '2024-01-01 10:00:01' new/app.exe
1|the build date is not later than OLD's copy either|--section Prog --touch --date '2023-01-01 00:00:00'|touch -d '2023-06-01' new/app.exe
2|--section CheckRun names the list of running programs|--section checkrun|
2|--from 4.9..4.10: the latest version sorts before the earliest|--section Prog --from 4.9..4.10|
2|--to "4.2 ": not empty, no blank at either end|--section Prog --to '4.2 '|
2|missing --section NAME||
2|--to 4.10 does not sort after 4.9, the latest version of --from|--section Prog --from 4.9 --to 4.10|
2|--to 4.1.9 does not sort after 4.1.9|--section Prog --from 4.0..4.1.9 --to 4.1.9|
2|--check-wait 0: a whole number of seconds from 1 to 3600|--section Prog --check-cmd a.exe --check-wait 0|
2|--check-wait needs --check-cmd|--section Prog --check-wait 30|
2|--check-cmd and --rebootok exclude each other|--section Prog --check-cmd a.exe --rebootok|
2|mkupdate diff: unknown option --tox|--section Prog --tox 4.2|
2|mkupdate diff: missing NEW|--section Prog --to|
2|mkupdate diff: unexpected argument new|--section Prog extra|
TABLE
# Warnings of what a second run or a patch would do; the package is written all the same.
while IFS='|' read -r text options; do
  releases
  eval run diff "$options" old new -o pkg; expect_rc 0 "diff $options"
  expect_in "warning: $text" "$ERR" "diff $options"
done <<'TABLE'
without --to the package writes no version (no VRESULT)|--section Prog --from 4.1
without --from every installed version receives this update|--section Prog --to 4.2
--patch with the range --from 4.0..4.1.9: a patch installs only over OLD's exact file|--section Prog --from 4.0..4.1.9 --to 4.2 --patch
--patch without --from: a patch installs only over OLD's exact file|--section Prog --to 4.2 --patch
TABLE
releases
run diff --section Prog old new -o new/pkg; expect_rc 1 "package folder inside NEW"
expect_in "must lie outside OLD and NEW" "$ERR" "package folder inside NEW"

# --- --patch: a patch where it is clearly smaller, the whole file otherwise ------
releases
head -c 200000 /dev/urandom > old/big.bin
{ head -c 100000 old/big.bin; printf 'inserted'; tail -c +100001 old/big.bin; } > new/big.bin
touch -d '2024-01-01 10:00:00' old/big.bin; touch -d '2024-02-01 10:00:00' new/big.bin
run diff --section Prog --patch old new -o pkg; expect_rc 0 "diff --patch"
[ "$(find pkg -type f | sort | tr '\n' ' ')" = "pkg/add/Prog/app.exe pkg/pat/Prog/big.bin pkg/todel.txt pkg/update.ini " ] ||
  fail "--patch: a patch for big.bin only: $(find pkg -type f)"
[ "$(mtime pkg/pat/Prog/big.bin)" = "$(mtime new/big.bin)" ] || fail "the patch keeps NEW's stamp"
run build -o p.vpa pkg; expect_rc 0 "build with a patch"
run list p.vpa; expect_in $'pat\\Prog\\big.bin\t' "$OUT" "list"
expect_in $'\tpatch 200000 -> 200008' "$OUT" "list shows the patch's sizes"
run list --json p.vpa
python3 -c 'import json,sys; e=[x for x in json.load(sys.stdin)["entries"] if x["kind"]=="patch"]; sys.exit(not (len(e)==1 and e[0]["patch"]=={"from_size":200000,"to_size":200008}))' <<< "$OUT" ||
  fail "list --json: $OUT"
run test p.vpa; expect_rc 0 "test of a sound patch"
# Damaged patch files in the package folder (header: +0 magic, +4 old size, +12 new size; stream from +20).
cp pkg/pat/Prog/big.bin good.pat
printf 'PAT0' | dd of=pkg/pat/Prog/big.bin conv=notrunc status=none
run check pkg; expect_rc 1 "check, a patch without its magic"; expect_in "is no patch: it does not begin with a patch header (a whole file belongs in add\\ or rep\\; the updater refuses it) (the updater's message: \"Patchkopf fehlerhaft\")" "$OUT" "check"
cp good.pat pkg/pat/Prog/big.bin; printf '\x01' | dd of=pkg/pat/Prog/big.bin bs=1 seek=12 conv=notrunc status=none
run check pkg; expect_rc 1 "check, a header that lies about the new size"
expect_in "patch-damaged" "$("$MKUPDATE" check --json pkg)" "check --json"
cp good.pat pkg/pat/Prog/big.bin; printf '\xff' | dd of=pkg/pat/Prog/big.bin bs=1 seek=60 conv=notrunc status=none
run build -o p2.vpa pkg; expect_rc 1 "build refuses what check finds damaged"
expect_in "nothing built: check finds 1 error(s)" "$ERR" "build names the refusal"; [ ! -e p2.vpa ] || fail "p2.vpa written"
run build --force -o p.vpa pkg; expect_rc 0 "build --force"; expect_in "error: pat\Prog\big.bin" "$ERR" "build --force names the error"
run test p.vpa; expect_rc 1 "test, a flipped byte in the patch"
expect_in "pat\\Prog\\big.bin: the patch is damaged" "$ERR" "test names the entry"
finish
