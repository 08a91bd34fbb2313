#!/usr/bin/env bash
# Files in use and parts that fail. A file of a part held open by a program
# that [CheckRun] does not name is found before the first change: the silent
# run exits 1618 and names it, and no file or registry value changes; with
# /WAIT the run waits until the holder lets go. Of two updaters started
# together one applies, the other ends with 1618 or, with /WAIT, waits its
# turn. A part with REBOOTOK=1 leaves a held file to the next start of Windows
# (exit 3010), which Wine carries out at `wineboot -r`; run again before that, it says 3010 again, and a
# later package that writes a file whose deletion waits for the restart keeps it. A part that cannot
# write one of its files (a folder in the way) is not applied: no result
# value, exit 1, no final command; run again once the cause is gone, the same
# package completes the update.
source "$(dirname "$0")/../wine/lib.sh"
source "$SOURCE_DIR/tests/wine/update_fixture.sh"
EXTRA_MAIN=('FINALCMD=cmd /c echo started> C:\upd\final.txt') EXTRA_INI=()

fresh() {
  install_project 4.1
  app_reg delete "$PROJECT" /v Status /f >/dev/null 2>&1 || true  # left by earlier runs in this prefix
  rm -f "$UPD/final.txt"
}
# A silent run in the background while this script goes on; the driver's report lands in $WORK/$1.out.
run_in_background() {
  local name=$1; shift
  (cd "$UPD" && "$WINE" "$WIN_DIR/win32driver.exe" run 3600 'C:\upd\update.exe' "$@" > "$WORK/$name.out") &
}
log_of() { iconv -f CP1252 -t UTF-8 < "$UPD/$1"; }

build_package "$UPD/update.exe"
fresh
before=$(tree_state)
run_update_holding 'C:\App\readme.txt' /S /FINALCMD /LOG='C:\upd\update.log'
check "held file: exit 1618" equals "$RC" 1618
check "held file: named in the log" contains "$LOG" $'benutzt und können nicht ersetzt werden:\r\n    C:\\App\\readme.txt\r\n'
check "held file: no file changed" equals "$(tree_state)" "$before"
check "held file: no result value" equals "$(reg_get "$PROJECT" Status) $(reg_get "$PROJECT\\Ver" "")" "(none) 4.1"
check "held file: no final command" test ! -e "$UPD/final.txt"
run_update /S /LOG='C:\upd\update.log'
check "released: the same package applies" equals "$RC $(cat "$APP/readme.txt")" "0 new readme"

fresh
cp "$WIN_DIR/win32driver.exe" "$UPD/"
hold_file 'C:\App\readme.txt' 4
run_update /S /WAIT=30 /LOG='C:\upd\update.log'
check "/WAIT=30: applied once the holder let go" equals "$RC $(cat "$APP/readme.txt")" "0 new readme"

# /WAIT=N is one budget for the whole run: a [CheckRun] program and a held file that both stay
# cost N seconds more than the run without /WAIT, not 2N.
EXTRA_INI=("" "[CheckRun]" 'C:\App\old.dll')
build_package "$UPD/update.exe"
fresh
hold_file 'C:\App\old.dll' 120 && program=$holder
hold_file 'C:\App\readme.txt' 120 && held=$holder
start=$SECONDS; run_windows_program 'C:\upd\update.exe' /S /LOG='C:\upd\update.log'; plain=$((SECONDS - start))
start=$SECONDS; run_windows_program 'C:\upd\update.exe' /S /WAIT=3 /LOG='C:\upd\update.log'; waited=$((SECONDS - start))
check "/WAIT=3, [CheckRun] program and held file: 1618" equals "$RC" 1618
check "/WAIT=3, [CheckRun] program and held file: about 3 s more in all ($plain s, then $waited s)" \
  test $((waited - plain)) -le 5
kill "$program" "$held" 2>/dev/null || true
"$WINESERVER" -k 2>/dev/null || true
EXTRA_INI=()

# The first updater holds the lock while it waits for the held file. Without /WAIT the second
# must be done before the file is let go; with it, the file is let go 4 s after the second started.
# The holder is let go only once the first updater holds the lock: on a busy machine a timed hold
# could end before the first one starts, which then never waits.
for second in "" /WAIT=60; do
  fresh
  hold_file 'C:\App\readme.txt' 60
  run_in_background first /S /WAIT=60 /LOG='C:\upd\first.log'
  "$WINE" 'C:\upd\win32driver.exe' waitlocked 60
  if [ -n "$second" ]; then (sleep 4; kill "$holder") & fi
  run_windows_program 'C:\upd\update.exe' /S $second /LOG='C:\upd\second.log'
  if [ -z "$second" ]; then
    check "second updater: 1618 at once, nothing written" equals "$RC $(cat "$APP/readme.txt")" "1618 old readme"
    check "second updater: says why" contains "$(log_of second.log)" "Ein anderes Update wird gerade ausgeführt."
    kill "$holder"
  else
    check "second updater with /WAIT: waits its turn and finds nothing to write" equals "$RC" 0
    check "second updater with /WAIT: writes no file" contains "$(log_of second.log)" $'\r\n0 Dateien aktualisiert\r\n'
  fi
  "$WINESERVER" -w
  check "first updater${second:+ (second with /WAIT)}: applied" equals "$(exit_code_in "$WORK/first.out") $(cat "$APP/readme.txt")" "0 new readme"
done

# A mutex of the lock's name that a program of the user made first (Wine gives it no owner) is not
# obeyed: the updater applies, holding the lock file; a second one started meanwhile still finds it taken.
fresh
"$WINE" 'C:\upd\win32driver.exe' squat 60 > "$WORK/squat.out" &
squatter=$!
for _ in $(seq 150); do grep -q squatting "$WORK/squat.out" 2>/dev/null && break; sleep 0.2; done
hold_file 'C:\App\readme.txt' 60
run_in_background first /S /WAIT=60 /LOG='C:\upd\first.log'
"$WINE" 'C:\upd\win32driver.exe' waitlocked 60
run_windows_program 'C:\upd\update.exe' /S /LOG='C:\upd\second.log'
check "mutex made by a user: a second updater still finds the lock taken" equals "$RC" 1618
kill "$holder"
"$WINESERVER" -w
check "mutex made by a user: not obeyed, the update applies" \
  equals "$(exit_code_in "$WORK/first.out") $(cat "$APP/readme.txt")" "0 new readme"
kill "$squatter" 2>/dev/null || true

EXTRA_INI=(REBOOTOK=1)
build_package "$UPD/update.exe"
fresh
# Both runs in one session of the Wine server: Wine carries out the pending
# renames whenever its server starts anew, as Windows does at its start.
cp "$WIN_DIR/win32driver.exe" "$UPD/"
hold_file 'C:\App\readme.txt' 60
run_windows_program 'C:\upd\update.exe' /S /FINALCMD /LOG='C:\upd\update.log'
LOG=$(log_of update.log)
check "REBOOTOK: exit 3010" equals "$RC" 3010
check "REBOOTOK: no final command before the restart" contains "$LOG" 'Abschließender Befehl nicht gestartet (erst nach dem Neustart von Windows).'
check "REBOOTOK: the other files are written, the held one is not yet" \
  equals "$(cat "$APP/prog.exe") $([ -e "$APP/old.dll" ] || echo deleted) $(cat "$APP/readme.txt")" "program v2 deleted old readme"
check "REBOOTOK: the part's result value" equals "$(reg_get "$PROJECT" Status)" "aktualisiert"
check "REBOOTOK: the log names the file" contains "$LOG" 'C:\App\readme.txt wird beim nächsten Neustart ersetzt.'
run_windows_program 'C:\upd\update.exe' /S /LOG='C:\upd\update.log'
check "REBOOTOK, the same package again before the restart: 3010 again" equals "$RC" 3010
kill "$holder" 2>/dev/null || true
"$WINESERVER" -k 2>/dev/null || true
"$WINE" wineboot -r >/dev/null 2>&1
"$WINESERVER" -w
check "REBOOTOK, after the restart: the new file, no temporary left" \
  equals "$(cat "$APP/readme.txt") $(cd "$APP" && find . -name '*~*' | wc -l)" "new readme 0"

# A deletion left to the restart (old.dll held) and, before the restart, a later package that writes
# old.dll anew: the restart leaves the new file, as the later run installed it.
fresh
: > "$UPD/session.txt"
hold_file 'C:\upd\session.txt' 120 && session=$holder  # keeps this session of the Wine server
hold_file 'C:\App\old.dll' 120 && olddll=$holder
run_windows_program 'C:\upd\update.exe' /S /LOG='C:\upd\update.log'
check "REBOOTOK, held file of the deletion list: 3010" equals "$RC" 3010
kill "$olddll" 2>/dev/null || true
wait "$olddll" 2>/dev/null || true
crlf_file "$WORK/later.ini" "P=Demo" "V=4.3" "" "[Demo]" 'TDIR=§R\Tarnix.exe\Projects\Demo\Dir\'
crlf_file "$WORK/later-todel.txt" ""
printf 'dll v3' > "$WORK/old.dll"
python3 "$SOURCE_DIR/tests/e2e/mkarchive.py" --stub "$WIN_DIR/update.exe" -o "$UPD/later.exe" \
  "todel.txt=$WORK/later-todel.txt" "update.ini=$WORK/later.ini" 'add\Demo\old.dll='"$WORK/old.dll"
run_windows_program 'C:\upd\later.exe' /S /LOG='C:\upd\later.log'
check "a later package writes old.dll before the restart" equals "$RC $(cat "$APP/old.dll")" "0 dll v3"
kill "$session" 2>/dev/null || true
"$WINESERVER" -k 2>/dev/null || true
"$WINE" wineboot -r >/dev/null 2>&1
"$WINESERVER" -w
check "after the restart: old.dll as the later run wrote it" equals "$(cat "$APP/old.dll" 2>/dev/null)" "dll v3"

EXTRA_INI=()
build_package "$UPD/update.exe"
fresh
mkdir "$APP/prog.exe" && touch -d "2020-01-01 10:00:00" "$APP/prog.exe"  # a folder, older than the entry, where its file goes
run_update /S /FINALCMD /LOG='C:\upd\update.log'
check "part with a file error exits 1" equals "$RC" 1
check "the file is named, with Windows' reason" contains "$LOG" '*** C:\App\prog.exe nicht (vollständig) geschrieben. Grund: '
check "error summary, not success" contains "$LOG" $'Es sind Fehler aufgetreten.'
check "final command not started" contains "$LOG" 'Abschließender Befehl nicht gestartet (Update nicht erfolgreich).'
check "no final command ran" test ! -e "$UPD/final.txt"
check "part VRESULT not written" equals "$(reg_get "$PROJECT" Status)" "(none)"
check "main VRESULT not written" equals "$(reg_get "$PROJECT\\Ver" "")" "4.1"

rmdir "$APP/prog.exe"
run_update /S /FINALCMD /LOG='C:\upd\update.log'
check "second run after the cause is gone exits 0" equals "$RC" 0
check "second run writes the file" equals "$(cat "$APP/prog.exe")" "program v2"
check "second run writes the part VRESULT" equals "$(reg_get "$PROJECT" Status)" "aktualisiert"
check "second run writes the main VRESULT" equals "$(reg_get "$PROJECT\\Ver" "")" "4.2"
check "second run started the final command" test -e "$UPD/final.txt"
check "second run logs the final command" contains "$LOG" $'Abschließender Befehl gestartet.\r\nRückgabewert: 0'

"$WINESERVER" -k 2>/dev/null || true  # no server of these console runs is left to the next test
finish
