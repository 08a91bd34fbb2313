#!/usr/bin/env bash
# The main window under Wine and a virtual display, driven by the Win32 test
# driver: Preparing -> Ready -> Completed, Ctrl+F3, the final command started
# once on closing, a failed run that leaves "Start" enabled, a part whose file
# is held open (the message with "Wiederholen"), a run of a 1 GiB entry
# during which the window answers, and the box of /?.
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
# Ends the window with the button given and waits until it and its Wine processes are gone.
close_with() {
  drive click Update "$1"
  "$WINE" "$DRIVER" waitgone Update 20 >/dev/null 2>&1
  wait $WINDOW_PID 2>/dev/null || true
  "$WINESERVER" -w
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

close_with Fertigstellen
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

# A second Start in the same window, refused for another reason: the log area
# shows exactly the second run's log, nothing of the first.
install_project 4.5
drive click Update Start
for _ in $(seq 100); do case "$(control 111)" in *"neuer als"*) break ;; esac; sleep 0.2; done
check "second Start: only the second run's log" equals "$(control 111)" \
  "1|1|~~Die Version des installierten Projekts Demo ist neuer als dieses Update.~~Das Update wird nicht ausgeführt."
screenshot "$SHOTS/main-second-start.png"
close_with Abbrechen
check "failed run: no final command" test ! -e "$UPD/final.txt"

# A file of a part held open is found before any change: one message names it,
# with "Wiederholen" and "Abbrechen"; once the holder lets go, "Wiederholen"
# completes the run.
install_project 4.1
rm -f "$UPD/final.txt"
hold_file 'C:\App\readme.txt' 60
start_window
wait_control 106 "1|1|Start" >/dev/null
drive click Update Start
"$WINE" "$DRIVER" wait class=#32770 30 >/dev/null 2>&1
check "held file: the message names it" contains "$(drive dump class=#32770)" 'C:\App\readme.txt'
check "held file: Wiederholen and Abbrechen" equals "$(drive dump class=#32770 | awk -F'|' '$2 == "Button" {printf "%s ", $5}')" "Wiederholen Abbrechen "
check "held file: nothing written" equals "$(cat "$APP/prog.exe" 2>/dev/null || echo none)" "none"
screenshot "$SHOTS/main-files-in-use.png"
kill $holder 2>/dev/null || true
wait $holder 2>/dev/null || true
sleep 1  # the server lets the file go
drive click class=#32770 Wiederholen
check "held file, Wiederholen: completed" wait_control 107 "1|1|Fertigstellen"
check "held file, Wiederholen: file replaced" equals "$(cat "$APP/readme.txt")" "new readme"
check "held file, Wiederholen: result value" equals "$(reg_get "$PROJECT\Ver" "")" "4.2"
close_with Fertigstellen
check "held file, Wiederholen: final command started" equals "$(grep -c started "$UPD/final.txt" 2>/dev/null)" 1

# A run that writes an entry of 1 GiB: the window answers throughout, shows
# its progress, and ignores its close box until the run has ended.
# The run writes the whole GiB into the prefix; a machine short of disk skips it.
free_mib=$(( $(df --output=avail -k "$C" | tail -1) / 1024 ))
if [ "$free_mib" -lt 3072 ]; then
  echo "skip 1 GiB entry: only $free_mib MiB free for the prefix"
else
  install_project 4.1
  truncate -s 1G "$WORK/big.bin"   # sparse: no GiB of the test machine's disk
  build_package "$UPD/update.exe" 'add\Demo\big.bin='"$WORK/big.bin"
  rm -f "$WORK/big.bin"
  start_window
  wait_control 106 "1|1|Start" >/dev/null
  drive click Update Start
  sleep 2
  screenshot "$SHOTS/main-progress.png"
  drive close Update
  check "1 GiB entry: the window answers WM_NULL within 3 s throughout" \
    drive answers Update 300 3000 107
  check "1 GiB entry: the close box did not end the run" wait_control 107 "1|1|Fertigstellen"
  check "1 GiB entry: written whole" equals "$(stat -c %s "$APP/big.bin")" 1073741824
  close_with Fertigstellen
  rm -f "$APP/big.bin"
fi
EXTRA_MAIN=('FINALCMD=cmd.exe /c echo started>>C:\upd\final.txt')
build_package "$UPD/update.exe"

# Headings of realistic length: each on one line of its own room, no two
# labels overlapping, the buttons below them; a text too long ends in "...".
# rect: "left top width height" of a control.
overlap() {
  local a b
  read -r al at aw ah <<<"$1"; read -r bl bt bw bh <<<"$2"
  [ "$al" -lt $((bl + bw)) ] && [ "$bl" -lt $((al + aw)) ] && [ "$at" -lt $((bt + bh)) ] && [ "$bt" -lt $((at + ah)) ]
}
labels_apart() {
  local ids=(101 102 103 104 106) i j
  for i in "${!ids[@]}"; do for j in "${!ids[@]}"; do
    [ "$i" -lt "$j" ] || continue
    if overlap "$(drive rect Update "${ids[$i]}")" "$(drive rect Update "${ids[$j]}")"; then
      echo "controls ${ids[$i]} and ${ids[$j]} overlap"; return 1
    fi
  done; done
}
one_line() { local h; read -r _ _ _ h <<<"$(drive rect Update "$1")"; [ "$h" -le 30 ] || { echo "control $1 is $h high"; return 1; }; }
install_project 4.1
for texts in "long|Kassenprogramm für Bäckereien und Konditoreien|Version 2.1.7 vom 15. März 2026, Build 4711|© 2026 Mevo Software GmbH, Berlin" \
             "longest|Warenwirtschaft und Kassenprogramm für Bäckereien, Filialen|Version 2.1.7 vom 15. März 2026, Build 4711 (Wartungsupdate)|© 2026 Mevo Software GmbH, Berlin-Charlottenburg, Germany" \
             "short|Demo|4.2|© Mevo"; do
  IFS='|' read -r shot p v cori <<<"$texts"
  EXTRA_MAIN=("P=$p" "V=$v" "CORI=$cori") EXTRA_INI=()
  build_package "$UPD/update.exe"
  start_window
  wait_control 106 "1|1|Start" >/dev/null
  check "$shot texts: heading shown" equals "$(control 101)" "1|1|$p"
  check "$shot texts: credit shown" equals "$(control 104)" "1|1|$cori"
  check "$shot texts: no two labels overlap" labels_apart
  for id in 101 102 104; do check "$shot texts: control $id on one line" one_line $id; done
  screenshot "$SHOTS/main-$shot-texts.png"
  close_with Abbrechen
done

# /? lists the switches and exit codes in columns that line up (a fixed-pitch font).
(cd "$UPD" && "$WINE" 'C:\upd\update.exe' /?) &
usage_pid=$!
"$WINE" "$DRIVER" wait class=#32770 30 >/dev/null 2>&1
check "/?: switches and exit codes in columns" contains "$(drive dump class=#32770)" "/WAIT=Sekunden   so lange auf"
screenshot "$SHOTS/usage.png"
drive click class=#32770 OK
wait $usage_pid 2>/dev/null || true
"$WINESERVER" -w

finish
