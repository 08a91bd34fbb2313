#!/usr/bin/env bash
# The updater run silently under Wine on a real package: success, a second
# run, version refusals, a missing target folder, a file in use, a damaged
# package, an entry that would leave its folder, Windows' own keys seen as the
# 32-bit build sees them, the final command, and runs without a window that
# open none whatever goes wrong.
source "$(dirname "$0")/../wine/lib.sh"
source "$SOURCE_DIR/tests/wine/update_fixture.sh"
EXTRA_MAIN=() EXTRA_INI=()

success_log=$'\r\nDemo-Anwendung\r\n2 Dateien zugefügt\r\n1 Dateien aktualisiert\r\n1 Dateien gelöscht\r\n\r\nUpdate beendet.\r\nRückgabewert: 0\r'

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
check "damaged package exits 2" equals "$RC" 2
check "damaged package logged" contains "$LOG" "Das Update ist beschädigt oder unvollständig."
check "damaged package changes nothing" equals "$(tree_state)" "$before"
check "damaged package leaves the version" equals "$(reg_get "$PROJECT\\Ver" "")" "4.1"

install_project 4.1
printf 'evil' > "$WORK/evil.txt"
build_package "$UPD/update.exe" 'add\Demo\..\..\evil.txt='"$WORK/evil.txt"
run_update /S /LOG='C:\upd\update.log'
check "escaping entry never written" test ! -e "$C/evil.txt"
check "escaping entry logged" contains "$LOG" 'evil.txt'

# Either build sees the registry as the 32-bit one does: a value that only the view of 32-bit
# programs holds, below Windows' own keys, names the part's folder and fills the final command.
UNINSTALL='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\DemoApp'
install_project 4.1
reg_set_default "$PROJECT\\Dir" 'C:\Gone\Demo.exe'
app_reg add "$UNINSTALL" /v InstallLocation /d 'C:\App' /f >/dev/null
if [ "$WIN_BITS" = 64 ]; then
  check "uninstall value lies in the 32-bit view only" equals "$(sys_reg_get "$UNINSTALL" InstallLocation)" "(none)"
fi
EXTRA_MAIN=('FINALCMD=cmd.exe /c echo %§V\Uninstall\DemoApp\InstallLocation%>C:\upd\final.txt')
EXTRA_INI=('TDIR=§V\Uninstall\DemoApp\InstallLocation')
build_package "$UPD/update.exe"
rm -f "$UPD/final.txt"
run_update /S /FINALCMD /LOG='C:\upd\update.log'
check "folder from the 32-bit view: exits 0" equals "$RC" 0
check "folder from the 32-bit view: file written" equals "$(cat "$APP/prog.exe" 2>/dev/null)" "program v2"
check "final command started" contains "$LOG" $'Abschließender Befehl gestartet.\r\nRückgabewert: 0'
check "placeholder read from the 32-bit view" equals "$(tr -d '\r' < "$UPD/final.txt" 2>/dev/null)" 'C:\App'
EXTRA_MAIN=() EXTRA_INI=()

# A final command that cannot be started: the log names the system's reason; the update succeeded.
install_project 4.1
EXTRA_MAIN=('FINALCMD=C:\Nirgends\fehlt.exe')
build_package "$UPD/update.exe"
run_update /S /FINALCMD /LOG='C:\upd\update.log'
check "unstartable final command exits 0" equals "$RC" 0
check "unstartable final command logged with a reason" test -n "$(grep -E $'^Abschließender Befehl konnte nicht gestartet werden: .+\r$' <<< "$LOG")"
check "unstartable final command: no claim it started" eval '! grep -q "Befehl gestartet" <<< "$LOG"'
EXTRA_MAIN=()

if [ "$WIN_BITS" = 64 ]; then
  # 64-bit Windows without its 32-bit subsystem has one registry view, the plain one.
  mv "$C/windows/system32/wow64.dll" "$WORK/"
  install_project 3.0
  APP_REG_VIEW= install_project 4.1
  build_package "$UPD/update.exe"
  run_update /S /LOG='C:\upd\update.log'
  mv "$WORK/wow64.dll" "$C/windows/system32/"
  check "without a 32-bit subsystem: the plain view's version accepted" equals "$RC" 0
  check "without a 32-bit subsystem: result in the plain view" equals "$(sys_reg_get "$PROJECT\\Ver" "")" "4.2"
  check "without a 32-bit subsystem: 32-bit view untouched" equals "$(reg_get "$PROJECT\\Ver" "")" "3.0"
  sys_reg delete 'HKLM\Software\Mevo' /f >/dev/null 2>&1 || true
fi

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

# Runs without a window open none on any path, on a display where a message box would show:
# the test driver starts each run and names every window it opens.
start_xvfb
cp "$WIN_DIR/win32driver.exe" "$UPD/"
install_project 4.1
build_package "$UPD/update.exe"
printf 'a file' > "$UPD/blocker"
set -f  # "/?" is a switch here, no pattern of file names
while IFS='|' read -r what args code logged; do
  rm -f "$UPD/update.log"
  # shellcheck disable=SC2086  # the switches are split at blanks on purpose
  # The driver's lines only: the updater writes what it writes to standard output (/?) into the same stream.
  out=$(cd "$UPD" && "$WINE" 'C:\upd\win32driver.exe' run 60 'C:\upd\update.exe' $args 2>/dev/null | tr -d '\r' |
        grep -E '^(window |exit |still running)') || true
  check "$what: no window, exit $code" equals "$out" "exit $code"
  if [ -n "$logged" ]; then
    check "$what: logged" contains "$(iconv -f CP1252 -t UTF-8 < "$UPD/update.log" 2>/dev/null)" "$logged"
  fi
done <<'RUNS'
unknown switch while unpacking|/UNPACK=C:\x /Q|4|
unknown switch while unpacking, with a log|/UNPACK=C:\x /Q /LOG=C:\upd\update.log|4|Unbekannter Schalter: /Q
log without /S|/UNPACK=C:\x /LOG=C:\upd\update.log|4|gelten nur mit /S.
failed unpack|/UNPACK=C:\upd\blocker\x|3|
switches asked for in a silent run|/S /? /LOG=C:\upd\update.log|4|/UNPACK=Ordner   alle Dateien
switches asked for while unpacking|/UNPACK=C:\x /?|4|
RUNS
set +f
# A script that redirects the output of "update.exe /S /?" reads the switches there.
"$WINE" 'C:\upd\update.exe' /S '/?' > "$WORK/usage.out" 2>/dev/null || true
check "/S /?: the switches on standard output" contains "$(iconv -f CP1252 -t UTF-8 < "$WORK/usage.out")" "/UNPACK=Ordner   alle Dateien"
cp "$WIN_DIR/update.exe" "$UPD/update.exe"
out=$(cd "$UPD" && "$WINE" 'C:\upd\win32driver.exe' run 60 'C:\upd\update.exe' /UNPACK=C:\x 2>/dev/null | tr -d '\r') || true
check "unpack without a package: no window, exit 2" equals "$out" "exit 2"

"$WINESERVER" -k 2>/dev/null || true  # no server of these runs is left to the next test
finish
