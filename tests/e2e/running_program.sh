#!/usr/bin/env bash
# What Windows refuses, found before the first change. The application's own
# .exe, run from its folder, opens for reading without sharing but not for
# writing: the silent run exits 1618 and names it, nothing changes; with
# REBOOTOK=1 it is left to the next start of Windows (exit 3010), which Wine
# carries out at `wineboot -r`; a read-only file that nobody holds is
# written at once; a second run before the restart ends with 3010 again, and
# a copy beside the .exe that nothing scheduled is removed by the next run,
# which writes the .exe. A path that Windows cannot hold (257 characters, and its
# temporary name beside it) is no file in use: exit 1, the path named,
# nothing changed.
source "$(dirname "$0")/../wine/lib.sh"
source "$SOURCE_DIR/tests/wine/update_fixture.sh"
EXTRA_MAIN=() EXTRA_INI=()
printf 'demo v2' > "$WORK/Demo.exe"

# The project with C:\App\Demo.exe (the test driver under another name) running from its folder.
start_demo() {
  install_project 4.1
  cp "$WIN_DIR/win32driver.exe" "$APP/Demo.exe" && touch -d '2020-01-01 10:00:00' "$APP/Demo.exe"
  printf 'x' > "$UPD/anything.txt"
  "$WINE" 'C:\App\Demo.exe' hold 'C:\upd\anything.txt' 120 > "$WORK/demo.out" &
  demo=$!
  for _ in $(seq 150); do grep -q holding "$WORK/demo.out" 2>/dev/null && return 0; sleep 0.2; done
  echo "Demo.exe did not start within 30 s" >&2
  return 1
}
# run_update while Demo.exe runs, which ends afterwards (with every Wine process).
run_update_while_running() {
  rm -f "$UPD/update.log"
  run_windows_program 'C:\upd\update.exe' "$@"
  kill "$demo" 2>/dev/null || true
  "$WINESERVER" -k 2>/dev/null || true
  LOG=$(iconv -f CP1252 -t UTF-8 < "$UPD/update.log")
}

build_package "$UPD/update.exe" 'rep\Demo\Demo.exe='"$WORK/Demo.exe"
start_demo
before=$(tree_state)
run_update_while_running /S /LOG='C:\upd\update.log'
check "running program: exit 1618" equals "$RC" 1618
check "running program: the .exe named" contains "$LOG" $'benutzt und können nicht ersetzt werden:\r\n    C:\\App\\Demo.exe'
check "running program: nothing changed" equals "$(tree_state)" "$before"
check "running program: opened to test, not written" equals "$(date -r "$APP/readme.txt" '+%F %T')" "2020-01-01 10:00:00"
check "running program: no result value" equals "$(reg_get "$PROJECT\\Ver" "")" "4.1"

EXTRA_INI=(REBOOTOK=1)
build_package "$UPD/update.exe" 'rep\Demo\Demo.exe='"$WORK/Demo.exe"
start_demo
chmod a-w "$APP/readme.txt"  # read-only for Windows
# A second driver keeps the Wine session, which is Windows between two starts, after Demo.exe ends.
cp "$WIN_DIR/win32driver.exe" "$UPD/" && printf 'x' > "$UPD/session.txt"
hold_file 'C:\upd\session.txt' 120
run_windows_program 'C:\upd\update.exe' /S /LOG='C:\upd\update.log'
LOG=$(iconv -f CP1252 -t UTF-8 < "$UPD/update.log")
check "running program, REBOOTOK: exit 3010" equals "$RC" 3010
check "running program, REBOOTOK: the read-only file written" equals "$(cat "$APP/readme.txt")" "new readme"
check "running program, REBOOTOK: the .exe left to the restart" contains "$LOG" 'C:\App\Demo.exe wird beim nächsten Neustart ersetzt.'
# Demo.exe ended, a second run before the restart: the copy is scheduled (PendingFileRenameOperations), the restart still due.
kill "$demo" 2>/dev/null || true
wait "$demo" 2>/dev/null || true
run_windows_program 'C:\upd\update.exe' /S
check "running program, REBOOTOK, second run before the restart: exit 3010, the copy stays" \
  equals "$RC $(cat "$APP/Demo.exe.~p0")" "3010 demo v2"
kill "$holder" 2>/dev/null || true
"$WINESERVER" -k 2>/dev/null || true
"$WINE" wineboot -r >/dev/null 2>&1
"$WINESERVER" -w
check "running program, REBOOTOK, after the restart: the new .exe" equals "$(head -c 16 "$APP/Demo.exe")" "demo v2"

# A newer copy beside the .exe that nothing scheduled (a run killed before it scheduled it, or someone
# else's): removed, and the .exe written at once.
install_project 4.1
printf 'demo v1' > "$APP/Demo.exe" && printf 'planted' > "$APP/Demo.exe.~p0"
touch -d '2020-01-01 10:00:00' "$APP/Demo.exe" && touch -d '2040-01-01 10:00:00' "$APP/Demo.exe.~p0"
run_update /S /LOG='C:\upd\update.log'
check "unscheduled copy beside the .exe: exit 0" equals "$RC" 0
check "unscheduled copy beside the .exe: removed, the .exe written" \
  equals "$(find "$APP" -name '*.~p*' | wc -l) $(cat "$APP/Demo.exe")" "0 demo v2"

# A second part whose folder is 222 characters deep: its entry's path has 257.
deep="$(printf 'd%.0s' $(seq 120))\\$(printf 'e%.0s' $(seq 100))"
name="$(printf 'x%.0s' $(seq 28))"
EXTRA_INI=("" "[Tief]" "N=Tief" "TDIR=C:\\App\\$deep\\")
install_project 4.1
mkdir -p "$APP/${deep//\\//}"
build_package "$UPD/update.exe" "add\\Tief\\$name=$WORK/Demo.exe"
before=$(tree_state)
run_update /S /LOG='C:\upd\update.log'
check "path of 257 characters: exit 1" equals "$RC" 1
check "path of 257 characters: named" contains "$LOG" $'Der Pfad ist zu lang: C:\\App\\'"$deep\\$name"$'\r\nDas Update wird nicht ausgeführt.'
check "path of 257 characters: nothing changed" equals "$(tree_state) $(ls -A "$APP/${deep//\\//}")" "$before "
finish
