#!/usr/bin/env bash
# The updater run silently under Wine on a real package: success, a second
# run, version refusals, a missing target folder, a file in use, a damaged
# package and an entry that would leave its folder.
source "$(dirname "$0")/../wine/lib.sh"
source "$SOURCE_DIR/tests/wine/update_fixture.sh"
EXTRA_MAIN=() EXTRA_INI=()

success_log=$'\r\nDemo-Anwendung\r\n2 Dateien zugefügt\r\n1 Dateien aktualisiert\r\n1 Dateien gelöscht\r\n\r\nUpdate beendet.\r\nKlicken Sie auf "Fertigstellen"!\r'

install_project 4.1
build_package "$UPD/update.exe"
run_update /S /LOG='C:\upd\update.log'
check "success exits 0" equals "$RC" 0
check "success log" equals "$LOG" "$success_log"
check "new file written" equals "$(cat "$APP/prog.exe")" "program v2"
check "sub-folder created" equals "$(wc -c < "$APP/sub/data.txt")" 5000
check "installed file replaced" equals "$(cat "$APP/readme.txt")" "new readme"
check "replaced file carries the entry's date" equals "$(date -r "$APP/readme.txt" '+%Y-%m-%d %H:%M:%S')" "2024-03-15 14:30:10"
check "rep entry not installed stays missing" test ! -e "$APP/notthere.txt"
check "listed file deleted" test ! -e "$APP/old.dll"
check "main VRESULT written" equals "$(reg_get "$PROJECT\\Ver" "")" "4.2"
check "part VRESULT written" equals "$(reg_get "$PROJECT" Status)" "aktualisiert"

run_update /S /V /LOG='C:\upd\update.log'
check "second run exits 0" equals "$RC" 0
check "second run updates nothing" contains "$LOG" $'0 Dateien aktualisiert\r\n3 wurden nicht aktualisiert, da neuere oder gleiche Exemplare vorlagen.'
check "extended log names the target folder" contains "$LOG" 'Zielordner: C:\App\'

for refusal in "3.9|ist nicht mindestens 4.0." "4.3.1|ist neuer als dieses Update." "|kann nicht ermittelt werden."; do
  install_project "${refusal%%|*}"
  before=$(tree_state)
  run_update /S /LOG='C:\upd\update.log'
  check "refusal ${refusal%%|*} exits 1" equals "$RC" 1
  check "refusal ${refusal%%|*} logged" contains "$LOG" "Die Version des installierten Projekts Demo ${refusal#*|}"
  check "refusal ${refusal%%|*} changes nothing" equals "$(tree_state)" "$before"
done

install_project 4.1
reg_set_default "$PROJECT\\Dir" 'C:\Gone\Demo.exe'
run_update /S /LOG='C:\upd\update.log'
check "missing target folder exits 1" equals "$RC" 1
check "missing target folder logged" contains "$LOG" $'ist nicht installiert.\r\nDas Update kann nicht ausgeführt werden.'

install_project 4.1
EXTRA_INI=("" "[CheckRun]" 'C:\App\readme.txt')
build_package "$UPD/update.exe"
cp "$WIN_DIR/win32driver.exe" "$UPD/"
"$WINE" 'C:\upd\win32driver.exe' hold 'C:\App\readme.txt' 20 > "$WORK/hold.out" &
holder=$!
for _ in $(seq 50); do grep -q holding "$WORK/hold.out" 2>/dev/null && break; sleep 0.2; done
before=$(tree_state)
run_update /S /LOG='C:\upd\update.log'
kill $holder 2>/dev/null || true
"$WINESERVER" -k 2>/dev/null || true
check "file in use exits 1" equals "$RC" 1
check "file in use named" contains "$LOG" "Die Datei readme.txt"
check "file in use changes nothing" equals "$(tree_state)" "$before"
EXTRA_INI=()

install_project 4.1
build_package "$UPD/update.exe"
size=$(stat -c %s "$UPD/update.exe")
python3 - "$UPD/update.exe" <<'PY'
import sys
p = sys.argv[1]
b = bytearray(open(p, "rb").read())
b[len(b) - 8 - 40] ^= 0x55   # inside the last entry's zlib stream
open(p, "wb").write(bytes(b))
PY
before=$(tree_state)
run_update /S /LOG='C:\upd\update.log'
check "damaged package exits 1" equals "$RC" 1
check "damaged package logged" contains "$LOG" "Das Update ist beschädigt oder unvollständig."
check "damaged package changes nothing" equals "$(tree_state)" "$before"
check "damaged package leaves the version" equals "$(reg_get "$PROJECT\\Ver" "")" "4.1"

install_project 4.1
printf 'evil' > "$WORK/evil.txt"
build_package "$UPD/update.exe" 'add\Demo\..\..\evil.txt='"$WORK/evil.txt"
run_update /S /LOG='C:\upd\update.log'
check "escaping entry never written" test ! -e "$C/evil.txt"
check "escaping entry logged" contains "$LOG" 'evil.txt'

cp "$WIN_DIR/update.exe" "$UPD/update.exe"
run_update /S /LOG='C:\upd\update.log'
check "no package exits 2" equals "$RC" 2

run_update /S /BOGUS
check "bad command line exits 4" equals "$RC" 4

finish
