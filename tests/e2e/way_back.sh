#!/usr/bin/env bash
# A check after the update, and the way back, under Wine. A package whose
# CHECKCMD ends with 0 is applied (exit 0); `/UNDO /S` then puts the
# application's files and the host's registry values back exactly as before
# (0), and a second `/UNDO` finds nothing to undo (5). A check that ends with
# 1, one that cannot be started and one that outruns CHECKWAIT undo the whole
# run (6). A run killed, every Windows process with it, while its check runs is
# undone by the next start of any package, which then goes on. `/UNDO` after a
# file of the update was changed ends with 1, names it and changes nothing. A
# main ROLLBACK=1 undoes the first part when the second one fails.
source "$(dirname "$0")/../wine/lib.sh"
source "$SOURCE_DIR/tests/wine/update_fixture.sh"
EXTRA_MAIN=() EXTRA_INI=() EXTRA_TODEL=()

cp "$WIN_DIR/win32driver.exe" "$UPD/" 2>/dev/null || { mkdir -p "$UPD" && cp "$WIN_DIR/win32driver.exe" "$UPD/"; }
DRIVER='C:\upd\win32driver.exe'
MARK="$UPD/checked.mark"

# The application's files, sizes, contents and stamps, and the host's values under the project's key.
state() {
  (cd "$APP" && find . -mindepth 1 -printf '%p %y %s %TY-%Tm-%Td %TH:%TM:%TS\n' | sort && find . -type f -exec md5sum {} + | sort)
  app_reg query "$PROJECT" /s 2>/dev/null | tr -d '\r' | grep -v '^$' || true
}
checked_package() {
  EXTRA_MAIN=("CHECKCMD=$1" "${@:2}")
  build_package "$UPD/update.exe"
}
applied() { equals "$(cat "$APP/prog.exe") $(reg_get "$PROJECT" Status) $(reg_get "$PROJECT\\Ver" "")" "program v2 aktualisiert 4.2"; }

checked_package "$DRIVER exit 0"
install_project 4.1
before=$(state)
run_update /S /LOG='C:\upd\update.log'
check "check ends with 0: the update stays" equals "$RC" 0
check "check ends with 0: applied" applied
after=$(state)
run_update /UNDO /S /LOG='C:\upd\update.log'
check "/UNDO: done" equals "$RC" 0
check "/UNDO: files and values as before the update" equals "$(state)" "$before"
run_update /UNDO /S /LOG='C:\upd\update.log'
check "/UNDO again: nothing to undo" equals "$RC" 5

for case in "exit 1|$DRIVER exit 1" "not found|C:\\upd\\nothere.exe"; do
  name=${case%%|*}
  checked_package "${case#*|}"
  install_project 4.1
  before=$(state)
  run_update /S /LOG='C:\upd\update.log'
  check "check $name: undone" equals "$RC" 6
  check "check $name: files and values as before" equals "$(state)" "$before"
  check "check $name: the log names the command" contains "$LOG" "${case#*|}"
done

checked_package "$DRIVER exit 0 30" CHECKWAIT=3
install_project 4.1
before=$(state)
started=$(date +%s)
run_update /S /LOG='C:\upd\update.log'
took=$(($(date +%s) - started))
check "check outruns CHECKWAIT=3: undone" equals "$RC" 6
check "check outruns CHECKWAIT=3: files and values as before" equals "$(state)" "$before"
check "check outruns CHECKWAIT=3: ended within a few seconds of the limit (took ${took} s)" test "$took" -lt 15

# Killed while its check runs: the check makes the mark and waits; the next
# start with the mark there ends at once.
rm -f "$MARK"
checked_package "$DRIVER exit 0 60 C:\\upd\\checked.mark"
cp "$UPD/update.exe" "$WORK/checked.exe"
install_project 4.1
before=$(state)
(cd "$UPD" && "$WINE" 'C:\upd\update.exe' /S /LOG='C:\upd\update.log' > /dev/null 2>&1) &
runner=$!
for _ in $(seq 300); do [ -e "$MARK" ] && break; sleep 0.2; done
check "killed run: its check started" test -e "$MARK"
"$WINESERVER" -k 2>/dev/null || true
wait "$runner" 2>/dev/null || true
# A package of another range (the later VChk line wins) finds the killed run
# first: undone, then nothing to do; the killed run's package then applies.
EXTRA_MAIN=('VChk="3.0"<=R\Tarnix.exe\Projects\Demo\Ver\<="3.9"') && build_package "$UPD/update.exe"
run_update /S /LOG='C:\upd\update.log'
check "killed run, then another package: nothing to do" equals "$RC" 5
check "killed run, then another package: the installation is as before the killed run" equals "$(state)" "$before"
cp "$WORK/checked.exe" "$UPD/update.exe"
run_update /S /LOG='C:\upd\update.log'
check "killed run's package again: applied" equals "$RC" 0
check "killed run's package again: its files and values" applied

# /UNDO after a file of the update changed: refused, that file named, nothing changed.
checked_package "$DRIVER exit 0"
install_project 4.1
run_update /S /LOG='C:\upd\update.log'
printf 'edited' > "$APP/readme.txt"
changed=$(state)
run_update /UNDO /S /LOG='C:\upd\update.log'
check "/UNDO after a change: refused" equals "$RC" 1
check "/UNDO after a change: the file is named" contains "$LOG" 'C:\App\readme.txt'
check "/UNDO after a change: nothing changed" equals "$(state)" "$changed"

# A main ROLLBACK=1: the second part fails (a folder where its file should go), the first is undone too.
KERN="$C/Kern"
rm -rf "$KERN" && mkdir -p "$KERN/zz.dat" "$WORK/kern"
# Older than the entry: a newer folder would count as a newer file and be left alone.
touch -d '2020-01-01 10:00:00' "$KERN/zz.dat"
printf 'zz' > "$WORK/kern/zz.dat"
EXTRA_MAIN=(ROLLBACK=1)
EXTRA_INI=("" "[Kern]" "N=Kern-Modul" 'TDIR=C:\Kern' 'VResult=R\Tarnix.exe\Projects\Demo\Kern=2')
build_package "$UPD/update.exe" 'add\Kern\zz.dat='"$WORK/kern/zz.dat"
install_project 4.1
before=$(state)
run_update /S /LOG='C:\upd\update.log'
check "main ROLLBACK=1, second part fails: the run fails" equals "$RC" 1
check "main ROLLBACK=1, second part fails: the first part is undone too" equals "$(state)" "$before"
rm -rf "$KERN"

finish
