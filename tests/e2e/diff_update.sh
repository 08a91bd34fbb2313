#!/usr/bin/env bash
# mkupdate diff end to end: a package made from two releases and applied under
# Wine to the installed older one gives exactly the newer one (names, contents,
# stamps), its version in the registry and its font; a second run changes
# nothing. A changed file with an older stamp installs only with --touch.
# With --patch, two releases of a 5.5 MB program give a package of at most a
# fifth of the size that installs the same; a patched file held open by
# another program is a file in use (1618); an installation changed by hand
# and a flipped byte in a patch are refused before
# any change (a header that lies is refused by the reader's own table, natively).
source "$(dirname "$0")/../wine/lib.sh"
source "$SOURCE_DIR/tests/wine/update_fixture.sh"
MKUPDATE="$NATIVE_DIR/mkupdate"
FONT_KEY='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts'
FONT_VALUE='DejaVu Diff (TrueType)'
OLD="$WORK/old" NEW="$WORK/new"

put() { mkdir -p "$(dirname "$1")"; printf '%s' "$2" > "$1"; }
# Release 4.1, installed as it was shipped; release 4.2 made from a copy of it.
put "$OLD/Demo.exe" 'program 4.1'
put "$OLD/bin/same.dll" 'unchanged library'
put "$OLD/bin/old.dll" 'dropped in 4.2'
put "$OLD/Daten/Übersicht/März.txt" 'Umsätze 4.1'
put "$OLD/Daten/alt.txt" 'renamed in 4.2'
put "$OLD/Daten/gleich groß.txt" 'same size A'
find "$OLD" -type f -exec touch -d '2024-01-10 10:00:00' {} +
cp -a "$OLD" "$NEW"
rm "$NEW/bin/old.dll"
mv "$NEW/Daten/alt.txt" "$NEW/Daten/neu.txt"
put "$NEW/Demo.exe" 'program 4.2, a little longer'
put "$NEW/Daten/Übersicht/März.txt" 'Umsätze 4.2'
put "$NEW/Daten/gleich groß.txt" 'same size B'
put "$NEW/plugins/Öl/zusatz.dll" 'new plug-in'
# A font under a name of its own: Wine registers the machine's DejaVu Sans itself.
python3 - /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf "$NEW/DejaVuDiff.ttf" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
for old, new in (("DejaVu Sans", "DejaVu Diff"), ("DejaVuSans", "DejaVuDiff")):
    data = data.replace(old.encode(), new.encode()).replace(old.encode("utf-16-be"), new.encode("utf-16-be"))
open(sys.argv[2], "wb").write(data)
PY
touch -d '2024-03-01 12:00:02' "$NEW/Demo.exe" "$NEW/Daten/Übersicht/März.txt" "$NEW/plugins/Öl/zusatz.dll" \
  "$NEW/DejaVuDiff.ttf" "$NEW/Daten/gleich groß.txt"
touch -d '2024-03-02 08:30:00' "$NEW/Daten/neu.txt"

# Names, contents and modification times of a tree; top-level fonts left out.
tree_full() { (cd "$1" && find . -type f ! -iregex '\./[^/]*\.ttf' -printf '%P\n' | sort | while read -r f; do
  echo "$f $(md5sum < "$f" | cut -c1-32) $(stat -c %Y "$f")"; done); }
install_old() {
  install_project 4.1
  rm -rf "$APP" && cp -a "$OLD" "$APP"
  rm -f "$C/windows/Fonts/DejaVuDiff.ttf" "$C/windows/Fonts/DejaVu Diff.FOT"
  "$WINE" reg delete "$FONT_KEY" /v "$FONT_VALUE" /f >/dev/null 2>&1 || true
}
make_package() {  # make_package FOLDER [diff options...]; sets DIFF_RC
  local dir="$1"; shift
  rm -rf "$dir"
  DIFF_RC=0
  "$MKUPDATE" diff --section Demo --from 4.1 --to 4.2 "$@" "$OLD" "$NEW" -o "$dir" > "$WORK/diff.out" 2>&1 || DIFF_RC=$?
}

make_package "$WORK/pkg"
check "diff exits 0" equals "$DIFF_RC" 0
check "diff counts" contains "$(cat "$WORK/diff.out")" "2 new, 3 changed, 2 deleted, 1 font(s); update.ini written"
check "check passes on what diff wrote" contains "$("$MKUPDATE" check "$WORK/pkg")" "0 error(s), 0 warning(s)"
check "unchanged file left out" test ! -e "$WORK/pkg/add/Demo/bin/same.dll"
mkdir -p "$UPD"
check "build takes the folder" "$MKUPDATE" build --stub "$WIN_DIR/update.exe" -o "$UPD/update.exe" "$WORK/pkg"

install_old
run_update /S /LOG='C:\upd\update.log'
check "update exits 0" equals "$RC" 0
check "installed tree is exactly NEW" equals "$(tree_full "$APP")" "$(tree_full "$NEW")"
check "version written" equals "$(reg_get "$PROJECT\\Ver" "")" "4.2"
check "font installed" cmp -s "$NEW/DejaVuDiff.ttf" "$C/windows/Fonts/DejaVuDiff.ttf"
check "font registered under its full name" equals "$(sys_reg_get "$FONT_KEY" "$FONT_VALUE")" "DejaVuDiff.ttf"

after=$(tree_full "$APP")
run_update /S /LOG='C:\upd\update.log'
check "second run is refused by the version" equals "$RC" 5
check "second run names the version" contains "$LOG" "ist neuer als dieses Update."
check "second run changes nothing" equals "$(tree_full "$APP")" "$after"
reg_set_default "$PROJECT\\Ver" 4.1
run_update /S /LOG='C:\upd\update.log'
check "run at version 4.1 again exits 0" equals "$RC" 0
check "run at version 4.1 again writes nothing" contains "$LOG" $'0 Dateien aktualisiert\r\n5 wurden nicht aktualisiert'
check "run at version 4.1 again changes nothing" equals "$(tree_full "$APP")" "$after"

# A changed file whose stamp is older than the installed copy: refused, or stamped with the build date.
put "$NEW/bin/same.dll" 'patched library'
touch -d '2023-12-24 18:00:00' "$NEW/bin/same.dll"
make_package "$WORK/stale"
check "stale stamp refused" equals "$DIFF_RC" 1
check "stale file named" contains "$(cat "$WORK/diff.out")" "bin/same.dll: changed, but its stamp is not later"
check "nothing written when refused" test ! -e "$WORK/stale"
make_package "$WORK/stale" --touch --date '2024-02-15 09:00:00'
check "--touch exits 0" equals "$DIFF_RC" 0
check "--touch says so" contains "$(cat "$WORK/diff.out")" "touched: bin/same.dll gets the build date"
"$MKUPDATE" build --stub "$WIN_DIR/update.exe" -o "$UPD/update.exe" "$WORK/stale" >/dev/null
install_old
run_update /S /LOG='C:\upd\update.log'
check "touched package exits 0" equals "$RC" 0
check "touched file installed" equals "$(cat "$APP/bin/same.dll")" "patched library"
check "touched file carries the build date" equals "$(date -r "$APP/bin/same.dll" '+%Y-%m-%d %H:%M:%S')" "2024-02-15 09:00:00"
install_old

# --patch on a release pair with a program of 5.5 MB: a changed program and data file, an unchanged
# library, a new and a deleted file.
OLD="$WORK/rel-old" NEW="$WORK/rel-new"
"$NATIVE_DIR/update_bench" --make-release-pair "$OLD" "$NEW"
find "$OLD" "$NEW" -type f -exec touch -d '2024-01-10 10:00:00' {} +
touch -d '2024-03-01 12:00:02' "$NEW/Demo.exe" "$NEW/Daten/Preise.dat" "$NEW/neu.txt"
make_package "$WORK/whole"
make_package "$WORK/patched" --patch
check "--patch exits 0" equals "$DIFF_RC" 0
check "--patch writes both changed files as patches" contains "$(cat "$WORK/diff.out")" "2 changed file(s) as patches"
check "check passes on the patch package" contains "$("$MKUPDATE" check "$WORK/patched")" "0 error(s), 0 warning(s)"
check "the program's patch predicts its calls and pointers, in streams (PAT4)" equals "$(head -c 4 "$WORK/patched/pat/Demo/Demo.exe")" PAT4
# A damaged copy, built from the package folder: a flipped byte inside the patch's chunks
# (header 20 bytes, then the chunks of its zlib streams).
cp -a "$WORK/patched" "$WORK/flipped"
python3 - "$WORK/flipped/pat/Demo/Demo.exe" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[20 + len(data) // 2] ^= 0x10
open(sys.argv[1], "wb").write(data)
PY
touch -d '2024-03-01 12:00:02' "$WORK/flipped/pat/Demo/Demo.exe"
for pkg in whole patched flipped; do
  "$MKUPDATE" build --force --stub "$WIN_DIR/update.exe" -o "$UPD/$pkg.exe" "$WORK/$pkg" >/dev/null 2>&1
done
whole=$(stat -c %s "$UPD/whole.exe") patched=$(stat -c %s "$UPD/patched.exe")
check "patch package ($patched bytes) is at most a fifth of the whole one ($whole)" test $((patched * 5)) -le "$whole"
check "test finds the flipped byte" contains "$("$MKUPDATE" test "$UPD/flipped.exe" 2>&1)" "1 damaged"

cp "$UPD/patched.exe" "$UPD/update.exe"
install_old
run_update /S /LOG='C:\upd\update.log'
check "patch package exits 0" equals "$RC" 0
check "patched installation is exactly NEW" equals "$(tree_full "$APP")" "$(tree_full "$NEW")"

# A patched file that another program holds without sharing is a file in use: 1618, nothing changed.
install_old
before=$(tree_full "$APP")
run_update_holding 'C:\App\Daten\Preise.dat' /S /LOG='C:\upd\update.log'
check "held patched file: exit 1618" equals "$RC" 1618
check "held patched file: named" contains "$LOG" $'benutzt und können nicht ersetzt werden:\r\n    C:\\App\\Daten\\Preise.dat'
check "held patched file: installation unchanged" equals "$(tree_full "$APP")" "$before"

# Refused before any change: the program changed by hand (same size and stamp), then a damaged patch.
for refused in hand flipped; do
  install_old
  if [ $refused = hand ]; then
    printf 'X' | dd of="$APP/Demo.exe" bs=1 seek=300000 conv=notrunc status=none
    touch -d '2024-01-10 10:00:00' "$APP/Demo.exe"
  else
    cp "$UPD/$refused.exe" "$UPD/update.exe"
  fi
  before=$(tree_full "$APP")
  run_update /S /LOG='C:\upd\update.log'
  # The installed file is not the one the patch was made for (1), or the package is damaged (2).
  check "$refused: exit code" equals "$RC" "$([ $refused = hand ] && echo 1 || echo 2)"
  check "$refused: installation unchanged" equals "$(tree_full "$APP")" "$before"
  check "$refused: version unchanged" equals "$(reg_get "$PROJECT\\Ver" "")" "4.1"
  if [ $refused = hand ]; then
    check "$refused: names the file" contains "$LOG" 'Die installierte Datei C:\App\Demo.exe ist nicht die'
  else
    check "$refused: says the package is damaged" contains "$LOG" 'pat\Demo\Demo.exe: '
  fi
done
install_old
finish
