#!/usr/bin/env bash
# The about box and the directory chooser under Wine and a virtual display,
# driven by the Win32 test driver and real mouse clicks: the about box with
# the update's texts, opened twice; the chooser without a kept folder, at the
# nearest existing folder and at the kept one; folders created through the
# panel and the context menu, renamed in place; "alles auspacken" into the
# chosen folder; the minimum size. Screenshots of both dialogs.
source "$(dirname "$0")/../wine/lib.sh"
source "$SOURCE_DIR/tests/wine/update_fixture.sh"
start_xvfb
SHOTS="$NATIVE_DIR/../screenshots"
DRIVER='C:\upd\win32driver.exe'
ABOUT=class=TAbout
CHOOSER=class=TFormDirSel
MSGBOX='class=#32770'
drive() { "$WINE" "$DRIVER" "$@" 2>/dev/null | tr -d '\r' | iconv -f CP1252 -t UTF-8; }
# "enabled|visible|text" of control ID in the window.
control() { drive dump "$1" | awk -F'|' -v id="$2" '$1 == id {print $3 "|" $4 "|" $5}'; }
wait_control() {
  local window="$1" id="$2" want="$3"
  for _ in $(seq 100); do [ "$(control "$window" "$id")" = "$want" ] && return 0; sleep 0.2; done
  echo "control $id: $(control "$window" "$id"), wanted $want"; return 1
}
window_open() { "$WINE" "$DRIVER" wait "$1" "${2:-10}" >/dev/null 2>&1; }
window_gone() { "$WINE" "$DRIVER" waitgone "$1" "${2:-10}" >/dev/null 2>&1; }
# A real click (button 1, or 3 for the right button) at a screen position "x y".
click_at() {
  local x y
  read -r x y <<<"$1" || true
  [ -n "$x" ] || { echo "nothing to click"; return 0; }
  xdotool mousemove "$x" "$y" click "${2:-1}"; sleep 0.5
}
click_item() { click_at "$(drive treepoint "$CHOOSER" 201 "$1")" "${2:-1}"; }
label() { drive text "$CHOOSER" 203; }
# The command given, tried every 0.2 s until it succeeds, 5 s at most: a click or key press
# is taken in after the driver has returned. The last try says why it failed.
eventually() { for _ in $(seq 24); do "$@" >/dev/null 2>&1 && return 0; sleep 0.2; done; "$@"; }
label_is() { equals "$(label)" "$1"; }
tree_has() { drive tree "$CHOOSER" 201 | grep -qxF "$1" || { echo "no tree item $1"; return 1; }; }
has_control() { "$WINE" "$DRIVER" text "$1" "$2" >/dev/null 2>&1; }
no_menu() { ! window_open 'class=#32768' 1; }
wait_for_dir() { for _ in $(seq 50); do [ -d "$1" ] && return 0; sleep 0.2; done; echo "no folder $1"; return 1; }
open_chooser() { drive click Update "alles auspacken"; window_open "$CHOOSER"; sleep 0.5; }
# Names below a folder, relative, sorted; folders end with "/".
listing() { (cd "$1" && find . -mindepth 1 \( -type d -printf '%P/\n' -o -printf '%P\n' \) | sort | tr '\n' ' '); }

EXTRA_MAIN=('CORI=Demo GmbH, 2004, %yyyy%' 'WWW=www.demo.example' 'EMAIL=info@demo.example?subject=Demo-Update')
EXTRA_INI=()
install_project 4.1
WAHL="$C/Wahl"  # the folders this test creates, renames and unpacks into
rm -rf "$WAHL" && mkdir -p "$WAHL"
build_package "$UPD/update.exe"
cp "$WIN_DIR/win32driver.exe" "$UPD/"
year=$(date -r "$UPD/update.exe" +%Y)
seconds=$(date -r "$UPD/update.exe" +%S)
stamp="$(date -r "$UPD/update.exe" '+%d.%m.%y %H:%M:')$(printf '%02d' $((10#$seconds / 2 * 2)))"

(cd "$UPD" && "$WINE" 'C:\upd\update.exe') &
WINDOW_PID=$!
window_open Update 30
check "ready" wait_control Update 106 "1|1|Start"

# --- The about box ---
drive clickid Update 103
check "a click on the credit label opens the about box" window_open "$ABOUT"
check "titled Info" window_open Info  # the title is set once the box is built
check "first heading: the update's name" equals "$(drive text "$ABOUT" 302)" "Demo"
check "second heading: the version without the degree sign" equals "$(drive text "$ABOUT" 303)" "Update auf 4.2"
check "credit line: the program year added once" equals "$(drive text "$ABOUT" 305)" "Demo GmbH, 2004, $year"
check "web link" equals "$(drive text "$ABOUT" 306)" "www.demo.example"
check "e-mail link: the address without its subject" equals "$(drive text "$ABOUT" 307)" "info@demo.example"
check "date line: the program file's date" equals "$(drive text "$ABOUT" 308)" "$stamp"
check "no help button" equals "$(control "$ABOUT" 9)" ""
read -r _ _ _ _ client_w client_h <<<"$(drive rect "$ABOUT")"
read -r ok_x ok_y ok_w ok_h <<<"$(drive rect "$ABOUT" 1)"
check "OK sits 20 from the right edge" equals "$((ok_x + ok_w))" "$((client_w - 20))"
read -r pic_x _ pic_w pic_h <<<"$(drive rect "$ABOUT" 304)"
check "the picture is 340 x 74, centred" equals "$pic_w x $pic_h at $pic_x" "340 x 74 at $(((client_w - 340) / 2))"
read -r date_x date_y date_w date_h <<<"$(drive rect "$ABOUT" 308)"
check "the date line ends the window, 10 from the right" equals "$((date_x + date_w)) $((date_y + date_h + 10))" \
  "$((client_w - 10)) $client_h"
read -r mx my mw mh _ <<<"$(drive rect Update)"
read -r ax ay aw ah _ <<<"$(drive rect "$ABOUT")"
check "centred on the main window" equals "$(((ax + aw / 2 - mx - mw / 2) / 3)) $(((ay + ah / 2 - my - mh / 2) / 3))" "0 0"
first_dump=$(drive dump "$ABOUT")
screenshot "$SHOTS/about.png"
drive click "$ABOUT" OK
check "OK closes the about box" window_gone "$ABOUT"

click_at "$(drive point Update 103)"
check "a real click on the credit label opens it again" window_open "$ABOUT"
check "the second time shows the same values" equals "$(drive dump "$ABOUT")" "$first_dump"
drive key "$ABOUT" 1 Return
check "Enter closes it" window_gone "$ABOUT"

# --- The chooser without a kept folder ---
wid=$(xdotool search --name '^Update$' | head -1)
xdotool windowfocus --sync "$wid" 2>/dev/null || true
xdotool key --clearmodifiers ctrl+F3
check "Ctrl+F3 reveals alles auspacken" wait_control Update 109 "1|1|alles auspacken"
open_chooser
read -r _ _ dlg_w dlg_h _ <<<"$(drive rect "$CHOOSER")"
check "the chooser opens 350 x 400" equals "$dlg_w x $dlg_h" "350 x 400"
check "no folder selected" eventually label_is ""
check "the new-folder panel is hidden" equals "$(control "$CHOOSER" 204)" "1|0|"
drive_c_label=$(drive tree "$CHOOSER" 201 | awk -F'|' '$1 == 1 && /\(C:\)/ {print $3; exit}')
root_label=$(drive tree "$CHOOSER" 201 | awk -F'|' '$1 == 0 {print $3; exit}')
click_item "$drive_c_label"
check "a click selects a drive" eventually label_is 'C:\'
drive key "$CHOOSER" 201 Right
check "opening a drive lists its folders" eventually tree_has "2|0|Wahl"
click_item Wahl
check "its folders are read when it opens" eventually label_is 'C:\Wahl'

drive clickid "$CHOOSER" 209
check "the new-folder button shows the panel" wait_control "$CHOOSER" 204 "1|1|"
check "with the proposed name" equals "$(drive text "$CHOOSER" 206)" "neuerOrdner"
drive key "$CHOOSER" 206 Escape
check "Escape in the name box hides the panel" wait_control "$CHOOSER" 204 "1|0|"
check "and leaves the chooser open" window_open "$CHOOSER" 1
check "and creates nothing" test ! -e "$WAHL/neuerOrdner"

printf 'x' > "$WAHL/belegt"
drive clickid "$CHOOSER" 209
drive settext "$CHOOSER" 206 belegt
drive key "$CHOOSER" 206 Return
check "a name that cannot be created is reported" window_open "$MSGBOX"
check "with the chooser's message" contains "$(drive dump "$MSGBOX")" "Ordner konnte nicht angelegt werden"
drive click "$MSGBOX" OK || true
window_gone "$MSGBOX" || true
check "the chooser stays open" window_open "$CHOOSER" 1

drive clickid "$CHOOSER" 209
drive settext "$CHOOSER" 206 Ziel
sleep 0.5
screenshot "$SHOTS/chooser-new-folder.png"
drive key "$CHOOSER" 206 Return
check "Enter creates the folder below the selection" wait_for_dir "$WAHL/Ziel"
check "the tree shows it" eventually tree_has "3|0|Ziel"
check "the panel is hidden again" wait_control "$CHOOSER" 204 "1|0|"
click_item Ziel
check "the new folder can be chosen" eventually label_is 'C:\Wahl\Ziel'
screenshot "$SHOTS/chooser.png"
drive clickid "$CHOOSER" 208
check "OK closes the chooser" window_gone "$CHOOSER"
expected='add/ add/Demo/ add/Demo/prog.exe add/Demo/sub/ add/Demo/sub/data.txt rep/ rep/Demo/ rep/Demo/notthere.txt rep/Demo/readme.txt todel.txt update.ini '
for _ in $(seq 50); do [ "$(listing "$WAHL/Ziel")" = "$expected" ] && break; sleep 0.2; done
check "alles auspacken reproduces the archive's folders" equals "$(listing "$WAHL/Ziel")" "$expected"
check "with the entries' contents" equals "$(cat "$WAHL/Ziel/add/Demo/sub/data.txt" | wc -c)" "5000"

# --- The kept folder is gone: the nearest existing one, without the menu ---
rm -rf "$WAHL/Ziel"
open_chooser
check "opens at the nearest existing folder" eventually label_is 'C:\Wahl'
check "which the tree selects" eventually tree_has "2|1|Wahl"
click_item App 3
check "a right click selects" eventually label_is 'C:\App'
sleep 1
check "no context menu without the kept folder" no_menu
drive key "$CHOOSER" 201 Escape
check "Escape cancels" window_gone "$CHOOSER"
check "nothing was unpacked" test ! -e "$APP/update.ini"

# --- The kept folder (the selection at the cancel) exists: context menu and renaming ---
open_chooser
check "opens at the selection of the cancelled call" eventually label_is 'C:\App'
click_item Wahl 3
check "the context menu opens" window_open 'class=#32768' 3
xdotool key Down Return
check "its item creates a folder below the clicked one" wait_for_dir "$WAHL/Neuer Ordner"
check "and selects it" eventually label_is 'C:\Wahl\Neuer Ordner'
drive key "$CHOOSER" 201 F2
check "F2 starts editing the name" eventually has_control "$CHOOSER" 201/Edit
drive settext "$CHOOSER" 201/Edit Umbenannt
drive key "$CHOOSER" 201/Edit Return
check "the folder is renamed" wait_for_dir "$WAHL/Umbenannt"
check "the old name is gone" test ! -e "$WAHL/Neuer Ordner"
check "the tree shows the new name" eventually tree_has "3|0|Umbenannt"
check "editing selected the folder's parent" eventually label_is 'C:\Wahl'

drive resize "$CHOOSER" 100 100
read -r _ _ dlg_w dlg_h _ <<<"$(drive rect "$CHOOSER")"
check "the chooser keeps its minimum size" equals "$dlg_w x $dlg_h" "327 x 200"
drive resize "$CHOOSER" 500 450
read -r _ _ _ _ client_w client_h <<<"$(drive rect "$CHOOSER")"
read -r ok_x ok_y ok_w ok_h <<<"$(drive rect "$CHOOSER" 208)"
read -r tree_x tree_y tree_w tree_h <<<"$(drive rect "$CHOOSER" 201)"
check "OK keeps its distance to the right and bottom edges" equals "$((client_w - ok_x - ok_w)) $((client_h - ok_y - ok_h))" "1 5"
check "the tree grows with the window" equals "$tree_w $((client_h - tree_y - tree_h))" "$client_w 45"
drive close "$CHOOSER"
check "closing the window cancels" window_gone "$CHOOSER"

# --- The root has no folder: OK unpacks nothing and says why ---
open_chooser
click_item "$root_label"
check "the root shows no path" eventually label_is ""
drive clickid "$CHOOSER" 208
window_gone "$CHOOSER"
check "OK on the root says why nothing is unpacked" window_open "$MSGBOX"
check "in a short message" contains "$(drive dump "$MSGBOX")" "Hier kann nichts ausgepackt werden."
drive click "$MSGBOX" OK || true
window_gone "$MSGBOX" || true
check "nothing is unpacked for the root" test ! -e "$C/update.ini"
open_chooser
check "the next call starts without a selection" eventually label_is ""
drive close "$CHOOSER"
window_gone "$CHOOSER"

drive click Update Abbrechen
window_gone Update 20
wait $WINDOW_PID 2>/dev/null || true
"$WINESERVER" -w
rm -rf "$WAHL"
finish
