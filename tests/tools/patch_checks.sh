#!/usr/bin/env bash
# What check says of patch entries: mistakes of the package around them (in a
# folder and in the archive built from it), and with --base each patch applied
# to the old release (check and test).
source "$(dirname "$0")/lib/tool_lib.sh"
cd "$WORK"

put() { mkdir -p "$(dirname "$1")"; printf '%s' "$2" > "$1"; }
mkdir -p old new
head -c 200000 /dev/urandom > old/big.bin
{ head -c 100000 old/big.bin; printf 'inserted'; tail -c +100001 old/big.bin; } > new/big.bin
put old/app.exe v1; put new/app.exe v2; put old/gone.txt x
touch -d '2024-01-01 10:00:00' old/*; touch -d '2024-02-01 10:00:00' new/*
"$MKUPDATE" diff --section Prog --from 4.1 --to 4.2 --patch old new -o pkg >/dev/null 2>&1 || fail "diff --patch"
[ -f pkg/pat/Prog/big.bin ] || { fail "no patch made"; finish; }
TDIR=$(grep -a '^TDIR=' pkg/update.ini | tr -d '\r')

# exit code | text of check --json, for the folder and for the archive built from it | shell command in the folder
while IFS='|' read -r rc text setup; do
  rm -rf case case.vpa; cp -a pkg case
  (cd case && eval "$setup")
  run check --json case; expect_rc "$rc" "folder: $setup"; expect_in "$text" "$OUT" "folder: $setup"
  "$MKUPDATE" build --force -o case.vpa case >/dev/null 2>&1 || fail "build --force: $setup"
  run check --json case.vpa; expect_rc "$rc" "archive: $setup"; expect_in "$text" "$OUT" "archive: $setup"
done <<'TABLE'
0|"errors": 0,|
0|"warnings": 0|printf '[Other]\r\nTDIR=C:\\B\r\n' >>update.ini; mkdir -p pat/Other; cp pat/Prog/big.bin pat/Other/
1|"code": "patch-chained"|printf '[Next]\r\n%s\\\r\n' "$TDIR" >>update.ini; mkdir -p pat/Next; cp pat/Prog/big.bin pat/Next/
0|"code": "patch-and-file"|cp ../new/big.bin add/Prog/
1|"code": "patch-deleted"|printf 'Prog\\BIG.BIN\r\n' >>todel.txt
1|"code": "not-a-patch"|cp ../new/big.bin pat/Prog/
0|"code": "patch-without-version-check"|sed -i '/^VChk/d' update.ini
TABLE

# --base: exit code | text of check --json | text of test | the base | shell command in the package folder
"$MKUPDATE" build -o p.vpa pkg >/dev/null 2>&1 || fail "build"
crc=$(python3 -c 'import sys,zlib; print("%08X" % zlib.crc32(open("new/big.bin","rb").read()))')
mkdir -p changed empty; cp old/big.bin changed/; printf 'Y' | dd of=changed/big.bin bs=1 seek=150000 conv=notrunc status=none
while IFS='|' read -r rc text tested base setup; do
  rm -rf case case.vpa; cp -a pkg case
  (cd case && eval "$setup")
  "$MKUPDATE" build --force -o case.vpa case >/dev/null 2>&1 || fail "build --force: $setup"
  run check --json --base "$base" case; expect_rc "$rc" "check --base $base $setup"
  expect_in "$text" "$OUT" "check --base $base $setup"
  run test case.vpa --base "$base"; expect_rc "$rc" "test --base $base $setup"
  expect_in "$tested" "$OUT$ERR" "test --base $base $setup"
done <<TABLE
0|"result": "right"|pat\\Prog\\big.bin: applied to old/big.bin: the new file, 200008 bytes, CRC-32 $crc|old|
0|"result": "right"|, 0 of 1 patch(es) wrong for the old release|Prog=old|
1|"code": "patch-base-differs"|changed/big.bin is not the file the patch was made for|changed|
1|"updater_text": "Ergebnis hat falsche CRC-32"|it does not give the new file of its header|old|printf '\\xff' | dd of=pat/Prog/big.bin bs=1 seek=16 conv=notrunc status=none
0|"code": "patch-base-missing"|warning: pat\\Prog\\big.bin: empty/big.bin is missing; not applied|empty|
0|"code": "patch-base-missing"|no --base for part [Prog]; not applied|Other=old|
TABLE
run check --base nothere pkg; expect_rc 2 "a --base that is no folder"; expect_in "--base nothere: no such folder" "$ERR" "--base"
finish
