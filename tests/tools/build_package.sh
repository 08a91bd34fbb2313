#!/usr/bin/env bash
# mkupdate build: order and naming of the entries, segments, stamps (from mtimes,
# fixed, in another zone), reproducible output, the attached form, and the
# files that the format cannot hold. Round trip through test and extract.
source "$(dirname "$0")/lib/tool_lib.sh"
cd "$WORK"

mkdir -p pkg/add/Sec/sub pkg/rep/Sec
printf 'P=Demo\r\nV=1.0\r\n\r\n[Sec]\r\nN=Demo\r\nTDIR=C:\\App\r\n' >pkg/update.ini
echo hello >pkg/add/Sec/sub/x.txt
echo umlauts >pkg/add/Sec/Grüße.txt
: >pkg/add/Sec/empty.dat
head -c $((3 * 1048576 + 5)) /dev/urandom >pkg/rep/Sec/big.bin
head -c 3000 /dev/urandom >pkg/Font.TTF
i=0
while read -r f; do   # odd seconds: the stamps keep even ones
  i=$((i + 1)); touch -d "2023-07-0$i 10:20:31" "$f"
done < <(find pkg -type f | sort)

column() { echo "$OUT" | cut -f"$1"; }

# --- the round trip ---------------------------------------------------------------
run build -o out.vpa pkg; expect_rc 0 "build"
run list out.vpa; expect_rc 0 "list built"
expected=$'todel.txt\nupdate.ini\nFont.TTF\nadd\\Sec\\Grüße.txt\nadd\\Sec\\empty.dat\nadd\\Sec\\sub\\x.txt\nrep\\Sec\\big.bin'
[ "$(column 1)" = "$expected" ] || fail "entry order: $(column 1)"
[ "$(echo "$OUT" | grep big.bin | cut -f4)" = 4 ] || fail "3 MiB + 5 bytes in 4 segments: $OUT"
[ "$(echo "$OUT" | grep -c $'\t1\t20')" = 6 ] || fail "all but big.bin in one segment"
[ "$(echo "$OUT" | head -1 | cut -f2)" = 0 ] || fail "todel.txt written empty"
run test out.vpa; expect_rc 0 "test built"
run extract out.vpa ex; expect_rc 0 "extract built"
diff -r -x todel.txt pkg ex >/dev/null || fail "extracted tree differs"
while read -r f; do
  want=$(( $(mtime "pkg/$f") / 2 * 2 ))
  [ "$(mtime "ex/$f")" = "$want" ] || fail "stamp of $f: $(mtime "ex/$f"), expected $want"
done < <(cd pkg && find . -type f)

# --- reproducible builds: --date and SOURCE_DATE_EPOCH, any thread count ---------
run build --date "2024-03-15 14:30:10" --threads 1 -o d1.vpa pkg; expect_rc 0 "build --date 1 thread"
touch pkg/add/Sec/sub/x.txt   # mtimes do not matter with a fixed date
run build --date="2024-03-15 14:30:10" --threads 3 -o d2.vpa pkg; expect_rc 0 "build --date 3 threads"
cmp -s d1.vpa d2.vpa || fail "two builds with --date differ"
run list d1.vpa
[ "$(column 5 | sort -u)" = "2024-03-15 14:30:10" ] || fail "--date stamps: $(column 5 | sort -u)"
SOURCE_DATE_EPOCH=$(epoch_of "2024-03-15 14:30:10") run build -o e1.vpa pkg; expect_rc 0 "SOURCE_DATE_EPOCH"
cmp -s d1.vpa e1.vpa || fail "SOURCE_DATE_EPOCH in TZ does not give the same stamps as --date"

# --- --tz: mtimes become the installing machines' local time ----------------------
mkdir -p tz; printf 'P=x\r\n' >tz/update.ini; touch -d "2024-03-15 12:00:00 UTC" tz/update.ini
while read -r zone local; do
  run build --tz "$zone" -o tz.vpa tz; expect_rc 0 "build --tz $zone"
  run list tz.vpa
  [ "$(echo "$OUT" | grep update.ini | cut -f5)" = "2024-03-15 $local" ] || fail "--tz $zone: $OUT"
done <<'TABLE'
Asia/Tokyo 21:00:00
America/New_York 08:00:00
UTC 12:00:00
TABLE
run build --tz Atlantis/Nowhere -o tz.vpa tz; expect_rc 2 "unknown zone"
run build --date "2024-13-01 00:00:00" -o tz.vpa tz; expect_rc 2 "month 13"
run build --date "2044-01-01 00:00:00" -o tz.vpa tz; expect_rc 2 "2044 would be a negative stamp"
touch -d "1975-05-05 12:00:00" tz/update.ini
run build -o old.vpa tz; expect_rc 0 "pre-1980 mtime"
expect_in "1980-01-01 00:00:00" "$ERR" "pre-1980 warning"

# --- attached to an updater ----------------------------------------------------------
# A stub with the headers of a Windows executable: "MZ", at 0x3C the offset 0x40 of "PE\0\0".
{ printf 'MZ'; head -c 58 /dev/zero; u32 64; printf 'PE\0\0'; head -c 932 /dev/urandom; } >stub.exe
run build --stub stub.exe --date "2024-03-15 14:30:10" -o app.exe pkg; expect_rc 0 "build --stub"
cmp -s -n 1000 stub.exe app.exe || fail "the updater is not copied unchanged"
[ "$(tail -c 8 app.exe | od -An -tx1 | tr -d ' \n')" = "e803000011110000" ] || fail "tail record"
[ "$(( $(stat -c %s app.exe) - 1000 - 8 ))" = "$(stat -c %s d1.vpa)" ] || fail "attached archive differs in size"
run test app.exe; expect_rc 0 "test attached"
run build --stub app.exe -o twice.exe pkg; expect_rc 1 "a stub that carries an archive"
head -c 1000 /dev/urandom >random.exe
run build --stub random.exe -o nope.exe pkg; expect_rc 1 "a stub that is no Windows executable"
expect_in "is no Windows executable" "$ERR" "stub refused with its reason"
run build -o plain.exe pkg; expect_rc 0 "an .exe without --stub is built"
expect_in "without --stub plain.exe is a stand-alone archive" "$ERR" ".exe without --stub warned"
run list stub.exe; expect_rc 1 "a bare updater"
expect_in "no archive attached" "$ERR" "a bare updater named as such"
run --version; expect_rc 0 "--version"
expect_in "mkupdate 1." "$OUT" "--version prints the version"
run help; expect_rc 0 "help"
expect_in "usage: mkupdate build" "$OUT" "help prints the usage"

# --- control files in any case; a large update.ini stays one segment --------------
mkdir -p big; { for n in $(seq 40000); do printf '; comment line %06d to fill the file\r\n' $n; done; } >big/UPDATE.INI
printf 'x\r\n' >big/ToDel.txt
run build -o big.vpa big; expect_rc 0 "build large update.ini"
run list big.vpa
[ "$(column 1)" = $'todel.txt\nupdate.ini' ] || fail "control files renamed: $(column 1)"
[ "$(echo "$OUT" | grep update.ini | cut -f4)" = 1 ] || fail "update.ini of $(stat -c %s big/UPDATE.INI) bytes not one segment"
[ "$(echo "$OUT" | head -1 | cut -f2)" = 3 ] || fail "the given todel.txt is used"

# --- what the format cannot hold: exit 1, the file named, nothing written ---------
long127=$(printf 'n%.0s' $(seq 127)); long128=${long127}n
refuse() {  # refuse PATH-IN-TREE MESSAGE-PART [how]
  rm -rf bad bad.vpa; mkdir -p bad; printf 'P=x\r\n' >bad/update.ini
  mkdir -p "bad/$(dirname "$1")"
  case "${3:-}" in sparse) truncate -s 3G "bad/$1" ;; *) echo data >"bad/$1" ;; esac
  run build -o bad.vpa bad; expect_rc 1 "refuse $1"
  expect_in "$2" "$ERR" "refuse $1"
  [ ! -e bad.vpa ] && [ -z "$(ls bad.vpa* 2>/dev/null)" ] || fail "output left after refusing $1"
}
refuse "$long128" "$long128: name is 128 bytes long"
refuse "add/Sec/ā.txt" "add/Sec/ā.txt: name not representable in code page 1252"
refuse 'a\b.txt' 'a\b.txt: name holds a backslash'
refuse 'what?.txt' "what?.txt: name holds a character"
refuse 'trailing.' "trailing.: a name element ends with a dot"
refuse 'huge.bin' "huge.bin: 3221225472 bytes, beyond the format's limit of 2 GiB" sparse
rm -rf bad; mkdir -p bad; echo 1 >bad/a.txt; echo 2 >bad/A.TXT; printf 'P=x\r\n' >bad/update.ini
run build -o bad.vpa bad; expect_rc 1 "case twins"; expect_in "differ only in letter case" "$ERR" "case twins"
rm bad/update.ini bad/A.TXT
run build -o bad.vpa bad; expect_rc 1 "no update.ini"; expect_in "update.ini is missing" "$ERR" "no update.ini"
run build -o pkg/inside.vpa pkg; expect_rc 1 "output inside the package folder"
run build -o /nonexistent-folder/x.vpa pkg; expect_rc 1 "output not writable"
rm -rf ok; mkdir ok; printf 'P=x\r\n' >ok/update.ini; echo x >"ok/$long127"
run build -o ok.vpa ok; expect_rc 0 "a name of 127 bytes is accepted"
# build runs the checks of check: warnings are printed, errors refuse unless --force.
printf 'P=x\r\nVChk=4.0<=R\\x\\Ver\\<=4.3z\r\nVResult=R\\x\\Ver\\=4.2\r\n' >ok/update.ini
run build -o ok.vpa ok; expect_rc 0 "a version written inside the range"
expect_in 'warning: update.ini:3: VRESULT writes "4.2", which the main VCHK range "4.0" to "4.3z" still accepts' "$ERR" "build warns"
printf 'P=x\r\n[Sec]\r\nN=x\r\n' >ok/update.ini; rm ok.vpa
run build -o ok.vpa ok; expect_rc 1 "a part without TDIR"; [ ! -e ok.vpa ] || fail "refused, but ok.vpa written"
expect_in "error: update.ini: part [Sec] has no TDIR" "$ERR" "build names check's error"
finish
