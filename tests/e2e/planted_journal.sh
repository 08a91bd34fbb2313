#!/usr/bin/env bash
# A journal that someone else put into a part's folder (a standard user may be
# allowed to write there) is not obeyed: in the current line form, in the
# older form without size and stamp, and with "..\" after the folder, it names
# files outside the folder, which stay as they are. The run changes nothing,
# names the journal and ends with exit code 1; the journal stays. Once it is
# gone, the same package applies.
source "$(dirname "$0")/../wine/lib.sh"
source "$SOURCE_DIR/tests/wine/update_fixture.sh"
EXTRA_MAIN=() EXTRA_TODEL=()
EXTRA_INI=("" "[Kern]" "N=Kern-Modul" 'TDIR=C:\Kern' 'VResult=R\Tarnix.exe\Projects\Demo\Kern=2')
KERN="$C/Kern"
mkdir -p "$WORK/kern"
printf 'kern v2' > "$WORK/kern/kern.dll"
build_package "$UPD/update.exe" 'add\Kern\kern.dll='"$WORK/kern/kern.dll"

# The victims outside the part's folder: one that a kept copy would replace, one that would be removed.
plant() {
  install_project 4.1
  rm -rf "$KERN" && mkdir -p "$KERN"
  printf 'mine' > "$C/victim.txt" && printf 'planted' > "$C/victim.txt.~r0" && printf 'other' > "$C/victim2.txt"
  crlf_file "$KERN/~update0.~rj" "$@"
}
outside() { echo "$(cat "$C/victim.txt") $(cat "$C/victim.txt.~r0") $(cat "$C/victim2.txt")"; }
refused=$'*** C:\\Kern\\~update0.~rj stammt nicht von diesem Updater und wird nicht befolgt.\r\nDas Update kann nicht ausgeführt werden.'

forms=(current older dotdot)
declare -A lines=(
  [current]='KC:\victim.txt|C:\victim.txt.~r0|-2|-1|-1;NC:\victim2.txt||-2|-1|-1'
  [older]='KC:\victim.txt|C:\victim.txt.~r0;NC:\victim2.txt'
  [dotdot]='KC:\Kern\..\victim.txt|C:\Kern\..\victim.txt.~r0|-2|-1;NC:\Kern\..\victim2.txt||-2|-1'
)
for form in "${forms[@]}"; do
  IFS=';' read -r -a journal <<< "${lines[$form]}"
  plant "${journal[@]}"
  before=$(tree_state)
  run_update /S /LOG='C:\upd\update.log'
  check "$form form: the run fails" equals "$RC" 1
  check "$form form: the files outside the folder stay" equals "$(outside)" "mine planted other"
  check "$form form: nothing of the application changed" equals "$(tree_state)" "$before"
  check "$form form: the journal is named" contains "$LOG" "$refused"
  check "$form form: the journal stays" equals "$(ls "$KERN")" "~update0.~rj"
done

rm -f "$KERN/~update0.~rj"
run_update /S /LOG='C:\upd\update.log'
check "journal removed: the package applies" equals "$RC $(cat "$KERN/kern.dll") $(outside)" "0 kern v2 mine planted other"
rm -f "$C/victim.txt" "$C/victim.txt.~r0" "$C/victim2.txt"
finish
