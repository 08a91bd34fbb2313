#!/usr/bin/env bash
# A part that cannot write one of its files is not applied: no result value
# claims the new version, the silent run exits 1 and starts no final command,
# and the same package run again once the file is free completes the update.
source "$(dirname "$0")/../wine/lib.sh"
source "$SOURCE_DIR/tests/wine/update_fixture.sh"
EXTRA_MAIN=('FINALCMD=cmd /c echo started> C:\upd\final.txt') EXTRA_INI=()

install_project 4.1
app_reg delete "$PROJECT" /v Status /f >/dev/null 2>&1 || true  # left by earlier tests in this prefix
build_package "$UPD/update.exe"
rm -f "$UPD/final.txt"
run_update_holding 'C:\App\readme.txt' /S /FINALCMD /LOG='C:\upd\update.log'
check "part with a file error exits 1" equals "$RC" 1
check "the file is named" contains "$LOG" '*** C:\App\readme.txt nicht (vollständig) geschrieben.'
check "error summary, not success" contains "$LOG" $'Es sind Fehler aufgetreten.'
check "final command not started" contains "$LOG" 'Abschließender Befehl nicht gestartet (Update nicht erfolgreich).'
check "no final command ran" test ! -e "$UPD/final.txt"
check "held file unchanged" equals "$(cat "$APP/readme.txt")" "old readme"
check "part VRESULT not written" equals "$(reg_get "$PROJECT" Status)" "(none)"
check "main VRESULT not written" equals "$(reg_get "$PROJECT\\Ver" "")" "4.1"

run_update /S /FINALCMD /LOG='C:\upd\update.log'
check "second run after the cause is gone exits 0" equals "$RC" 0
check "second run replaces the file" equals "$(cat "$APP/readme.txt")" "new readme"
check "second run writes the part VRESULT" equals "$(reg_get "$PROJECT" Status)" "aktualisiert"
check "second run writes the main VRESULT" equals "$(reg_get "$PROJECT\\Ver" "")" "4.2"
check "second run started the final command" test -e "$UPD/final.txt"
check "second run logs the final command" contains "$LOG" $'Abschließender Befehl gestartet.\r\nRückgabewert: 0'

"$WINESERVER" -k 2>/dev/null || true  # no server of these console runs is left to the next test
finish
