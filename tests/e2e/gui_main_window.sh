#!/usr/bin/env bash
# The main window under Wine and a virtual display, driven by the Win32 test
# driver: Preparing -> Ready -> Completed, Ctrl+F3, the final command started
# once on closing, and a failed run that leaves "Start" enabled.
source "$(dirname "$0")/../wine/lib.sh"
source "$SOURCE_DIR/tests/wine/update_fixture.sh"
start_xvfb
SHOTS="$NATIVE_DIR/../screenshots"
DRIVER='C:\upd\win32driver.exe'
drive() { "$WINE" "$DRIVER" "$@" 2>/dev/null | tr -d '\r' | iconv -f CP1252 -t UTF-8; }
# "enabled|visible|text" of the control with the given id.
control() { drive dump Update | awk -F'|' -v id="$1" '$1 == id {print $3 "|" $4 "|" $5}'; }
wait_control() {
  local id="$1" want="$2"
  for _ in $(seq 100); do [ "$(control "$id")" = "$want" ] && return 0; sleep 0.2; done
  echo "control $id: $(control "$id"), wanted $want"; return 1
}
start_window() {
  (cd "$UPD" && "$WINE" 'C:\upd\update.exe') &
  WINDOW_PID=$!
  "$WINE" "$DRIVER" wait Update 30 >/dev/null 2>&1
}

EXTRA_MAIN=('FINALCMD=cmd.exe /c echo started>>C:\upd\final.txt') EXTRA_INI=()
install_project 4.1
build_package "$UPD/update.exe"
cp "$WIN_DIR/win32driver.exe" "$UPD/"
rm -f "$UPD/final.txt"

start_window
check "ready: Start enabled" wait_control 106 "1|1|Start"
check "ready: heading is P" equals "$(control 101)" "1|1|Demo"
check "ready: version is V" equals "$(control 102)" "1|1|4.2"
check "ready: Fertigstellen disabled" equals "$(control 107)" "0|1|Fertigstellen"
check "ready: alles auspacken hidden" equals "$(control 109)" "1|0|alles auspacken"
screenshot "$SHOTS/main-ready.png"

wid=$(xdotool search --name '^Update$' | head -1)
xdotool windowfocus --sync "$wid" 2>/dev/null || true
xdotool key --clearmodifiers ctrl+F3
check "Ctrl+F3 shows alles auspacken" wait_control 109 "1|1|alles auspacken"
xdotool key --clearmodifiers F3
sleep 0.5
check "F3 alone changes nothing" equals "$(control 109)" "1|1|alles auspacken"
xdotool key --clearmodifiers ctrl+F3
check "a second Ctrl+F3 hides it" wait_control 109 "1|0|alles auspacken"

drive click Update Start
check "completed: Fertigstellen enabled" wait_control 107 "1|1|Fertigstellen"
check "completed: Start disabled" equals "$(control 106)" "0|1|Start"
check "completed: log ends with the success line" contains "$(control 111)" 'Update beendet.~~Klicken Sie auf "Fertigstellen"!'
check "completed: files written" equals "$(cat "$APP/prog.exe")" "program v2"
screenshot "$SHOTS/main-completed.png"

drive click Update Fertigstellen
"$WINE" "$DRIVER" waitgone Update 20 >/dev/null 2>&1
wait $WINDOW_PID 2>/dev/null || true
"$WINESERVER" -w
check "final command started once" equals "$(grep -c started "$UPD/final.txt" 2>/dev/null)" 1

install_project 3.9
rm -f "$UPD/final.txt"
start_window
wait_control 106 "1|1|Start" >/dev/null
drive click Update Start
for _ in $(seq 100); do case "$(control 111)" in *"nicht mindestens"*) break ;; esac; sleep 0.2; done
check "failed run: log names the version" contains "$(control 111)" "ist nicht mindestens 4.0."
check "failed run: Start stays enabled" equals "$(control 106)" "1|1|Start"
check "failed run: Fertigstellen stays disabled" equals "$(control 107)" "0|1|Fertigstellen"
screenshot "$SHOTS/main-failed.png"
drive click Update Abbrechen
"$WINE" "$DRIVER" waitgone Update 20 >/dev/null 2>&1
wait $WINDOW_PID 2>/dev/null || true
"$WINESERVER" -w
check "failed run: no final command" test ! -e "$UPD/final.txt"

finish
