#!/usr/bin/env bash
# The updater run silently under Wine on a real package: success, a second
# run, version refusals, a missing target folder, a file in use, a damaged
# package and an entry that would leave its folder.
source "$(dirname "$0")/../wine/lib.sh"
source "$SOURCE_DIR/tests/wine/update_fixture.sh"
EXTRA_MAIN=() EXTRA_INI=()

success_log=$'\r\nDemo-Anwendung\r\n2 Dateien zugefügt\r\n1 Dateien aktualisiert\r\n1 Dateien gelöscht\r\n\r\nUpdate beendet.\r\nKlicken Sie auf "Fertigstellen"!\r\nRückgabewert: 0\r'

install_project 4.1
build_package "$UPD/update.exe"
run_update /S /LOG='C:\upd\update.log'
check "success exits 0" equals "$RC" 0
check "success log" equals "${LOG#*$'\r\n'}" "$success_log"
check "log begins with package and time" test -n "$(echo "$LOG" | head -1 | grep -E '^Update Demo 4\.2, [0-9]{2}\.[0-9]{2}\.[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}'$'\r''$')"
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

# An installed version beyond the range means nothing to do (5), as a second run of an applied package finds.
for refusal in "3.9|1|ist nicht mindestens 4.0." "4.3.1|5|ist neuer als dieses Update." "|1|kann nicht ermittelt werden."; do
  IFS='|' read -r installed expected text <<< "$refusal"
  install_project "$installed"
  before=$(tree_state)
  run_update /S /LOG='C:\upd\update.log'
  check "refusal $installed exits $expected" equals "$RC" "$expected"
  check "refusal $installed logged" contains "$LOG" "Die Version des installierten Projekts Demo $text"
  check "refusal $installed changes nothing" equals "$(tree_state)" "$before"
done

install_project 4.1
reg_set_default "$PROJECT\\Dir" 'C:\Gone\Demo.exe'
run_update /S /LOG='C:\upd\update.log'
check "missing target folder exits 1" equals "$RC" 1
check "missing target folder logged" contains "$LOG" $'ist nicht installiert.\r\nDas Update kann nicht ausgeführt werden.'

install_project 4.1
EXTRA_INI=("" "[CheckRun]" 'C:\App\readme.txt')
build_package "$UPD/update.exe"
before=$(tree_state)
run_update_holding 'C:\App\readme.txt' /S /LOG='C:\upd\update.log'
check "file in use exits 1618" equals "$RC" 1618
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

run_update /S /BOGUS /LOG='C:\upd\update.log'
check "bad command line exits 4" equals "$RC" 4
check "unknown switch logged" contains "$LOG" $'Unbekannter Schalter: /BOGUS\r\nRückgabewert: 4'

# Switches administrators type from habit; the log's folders are created.
install_project 4.1
build_package "$UPD/update.exe"
rm -rf "$UPD/logs"
run_update /VERYSILENT /SUPPRESSMSGBOXES /NORESTART /LOG 'C:\upd\logs\new\update.log'
check "habitual switches run the update" equals "$RC" 0
check "log written into new folders" contains "$(iconv -f CP1252 -t UTF-8 < "$UPD/logs/new/update.log" 2>/dev/null)" "Update beendet."

# A log that cannot be written stops the run before anything changes.
install_project 4.1
before=$(tree_state)
run_update /S /LOG='C:\upd\update.exe\update.log'
check "unwritable log exits 4" equals "$RC" 4
check "unwritable log changes nothing" equals "$(tree_state)" "$before"
check "unwritable log leaves the version" equals "$(reg_get "$PROJECT\\Ver" "")" "4.1"

"$WINESERVER" -k 2>/dev/null || true  # no server of these console runs is left to the next test
finish
