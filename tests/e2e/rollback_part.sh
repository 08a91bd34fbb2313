#!/usr/bin/env bash
# A second part with ROLLBACK=1 under Wine. When one of its files cannot be
# written (a folder of the file's name, older than the entry) or a file on
# its deletion list is held open, that part stays as it was, file for file
# and stamp for stamp, while the first part is applied; it writes no result
# value and the log says that its changes were taken back (a file held open
# is found before any change, for every part). Without the key
# the same package leaves that part half new, as ever. What a killed run of
# the part left (its journal, a kept copy, new files) is taken back by the
# next run of any package before it looks at anything, except for a file that
# another installer put in place since; a kept copy that cannot be renamed
# back stops that run with the journal kept, and the run after it finishes.
source "$(dirname "$0")/../wine/lib.sh"
source "$SOURCE_DIR/tests/wine/update_fixture.sh"
EXTRA_MAIN=() EXTRA_INI=() EXTRA_TODEL=('Kern\alt.dll')

KERN="$C/Kern"
mkdir -p "$WORK/kern"
printf 'kern v2' > "$WORK/kern/kern.dll"
printf 'neu' > "$WORK/kern/neu.dll"
printf 'plugin' > "$WORK/kern/p.dll"
printf 'zz' > "$WORK/kern/zz.dat"
kern_entries=('rep\Kern\kern.dll='"$WORK/kern/kern.dll" 'add\Kern\neu.dll='"$WORK/kern/neu.dll"
  'add\Kern\plugins\p.dll='"$WORK/kern/p.dll" 'add\Kern\zz.dat='"$WORK/kern/zz.dat")
kern_part() { EXTRA_INI=("" "[Kern]" "N=Kern-Modul" 'TDIR=C:\Kern' 'VResult=R\Tarnix.exe\Projects\Demo\Kern=2' "$@"); }

# The installed part: a read-only file to be replaced, a file to be deleted,
# and (with "blocked") a folder where zz.dat should go, all from 2020.
install_kern() {
  rm -rf "$KERN" && mkdir -p "$KERN"
  printf 'kern v1' > "$KERN/kern.dll"
  printf 'alt' > "$KERN/alt.dll"
  [ "${1:-}" = blocked ] && mkdir "$KERN/zz.dat"
  touch -d '2020-01-01 10:00:00' "$KERN"/*
  chmod a-w "$KERN/kern.dll"
  app_reg delete "$PROJECT" /v Kern /f >/dev/null 2>&1 || true
}
# Names, kinds, modes, stamps to the second and contents of everything in the part's folder.
kern_state() {
  (cd "$KERN" && find . -mindepth 1 -printf '%p %y %m %TY-%Tm-%Td %TH:%TM:%TS\n' | sort && find . -type f -exec md5sum {} + | sort)
}
rolled_back=$'*** C:\\Kern\\zz.dat nicht (vollständig) geschrieben. Grund: Zugriff verweigert.\r\nDie Änderungen an Kern-Modul wurden zurückgenommen.'

kern_part ROLLBACK=1
build_package "$UPD/update.exe" "${kern_entries[@]}"
install_project 4.1
install_kern blocked
before=$(kern_state)
run_update /S /LOG='C:\upd\update.log'
check "blocked file: the run fails" equals "$RC" 1
check "blocked file: the part is as before, stamps and modes included" equals "$(kern_state)" "$before"
check "blocked file: the rollback is logged" contains "$LOG" "$rolled_back"
check "blocked file: no result value for the part" equals "$(reg_get "$PROJECT" Kern)" "(none)"
check "blocked file: the first part is applied" equals "$(cat "$APP/prog.exe") $(reg_get "$PROJECT" Status)" "program v2 aktualisiert"
check "blocked file: the update-wide result value is not written" equals "$(reg_get "$PROJECT\\Ver" "")" "4.1"

install_project 4.1
install_kern
before=$(kern_state)
run_update_holding 'C:\Kern\alt.dll' /S /LOG='C:\upd\update.log'
check "listed file held open: found before any change" equals "$RC" 1618
check "listed file held open: the part is as before" equals "$(kern_state)" "$before"
check "listed file held open: named in the log" contains "$LOG" $'    C:\\Kern\\alt.dll\r\n'

install_project 4.1
install_kern
run_update /S /LOG='C:\upd\update.log'
check "nothing in the way: the run succeeds" equals "$RC" 0
check "nothing in the way: the part is applied, no kept copy left" equals "$(cd "$KERN" && find . -type f | sort | tr '\n' ' ')" \
  "./kern.dll ./neu.dll ./plugins/p.dll ./zz.dat "
check "nothing in the way: the replaced file carries the entry's date" equals "$(date -r "$KERN/kern.dll" '+%Y-%m-%d %H:%M:%S')" "2024-03-15 14:30:10"
check "nothing in the way: the part's result value" equals "$(reg_get "$PROJECT" Kern)" "2"

kern_part
build_package "$UPD/update.exe" "${kern_entries[@]}"
install_project 4.1
install_kern blocked
run_update /S /LOG='C:\upd\update.log'
check "without the key: the run fails as ever" equals "$RC" 1
check "without the key: the part is half new" equals "$(cat "$KERN/kern.dll") $(cat "$KERN/neu.dll") $([ -e "$KERN/alt.dll" ] || echo deleted)" "kern v2 neu deleted"
check "without the key: the failure is counted" contains "$LOG" $'*** C:\\Kern\\zz.dat nicht (vollständig) geschrieben. Grund: Zugriff verweigert.\r\n'
check "without the key: no rollback" equals "$(echo "$LOG" | grep -c zurückgenommen)" 0

# What a run of the package with rollback leaves when it is killed after it
# wrote kern.dll and neu.dll: the kept copy of kern.dll, the two new files with
# the entry's date, and the journal that notes what the run wrote (size and
# MS-DOS stamp of 2024-03-15 14:30:10).
kill_kern_run() {
  mv "$KERN/kern.dll" "$KERN/kern.dll.~r0"
  printf 'kern v2' > "$KERN/kern.dll" && printf 'neu' > "$KERN/neu.dll"
  touch -d '2024-03-15 14:30:10' "$KERN/kern.dll" "$KERN/neu.dll"
  crlf_file "$KERN/~update0.~rj" 'KC:\Kern\kern.dll|C:\Kern\kern.dll.~r0|7|1483699141' 'NC:\Kern\neu.dll||3|1483699141'
}
leftovers() { (cd "$KERN" && find . -name '*~*' | sort | tr '\n' ' '); }

install_project 4.5
install_kern
before=$(kern_state)
kill_kern_run
run_update /S /LOG='C:\upd\update.log'
check "killed run, then a package without the key: nothing to do" equals "$RC" 5
check "killed run, then a package without the key: the part is as before the killed run" equals "$(kern_state)" "$before"
check "killed run, then a package without the key: the recovery is logged" contains "$LOG" 'Ein abgebrochenes Update in C:\Kern\ wurde zurückgenommen.'
install_project 4.1
run_update /S /LOG='C:\upd\update.log'
check "killed run, then a package without the key: it applies" equals "$RC $(cat "$KERN/kern.dll") $(leftovers)" "0 kern v2 "

kern_part ROLLBACK=1
build_package "$UPD/update.exe" "${kern_entries[@]}"
install_project 4.1
install_kern
kill_kern_run
chmod u+w "$KERN/kern.dll" && printf 'kern v3' > "$KERN/kern.dll" && touch -d '2025-01-01 08:00:00' "$KERN/kern.dll"
run_update /S /LOG='C:\upd\update.log'
check "killed run, kern.dll replaced since: the run succeeds" equals "$RC" 0
check "killed run, kern.dll replaced since: the replacement stays, nothing is left" equals "$(cat "$KERN/kern.dll") $(leftovers)" "kern v3 "

install_project 4.1
install_kern
kill_kern_run
run_update_holding 'C:\Kern\kern.dll.~r0' /S /LOG='C:\upd\update.log'
check "kept copy held: the run fails before any change" equals "$RC $(cat "$KERN/kern.dll") $(cat "$KERN/alt.dll")" "1 kern v2 alt"
check "kept copy held: the failure is logged" contains "$LOG" $'*** C:\\Kern\\kern.dll konnte nicht wiederhergestellt werden (vorige Fassung: C:\\Kern\\kern.dll.~r0).\r\nEin abgebrochenes Update in C:\\Kern\\ konnte nicht zurückgenommen werden.'
check "kept copy held: the journal stays" equals "$(leftovers)" "./kern.dll.~r0 ./~update0.~rj "
run_update /S /LOG='C:\upd\update.log'
check "kept copy released: the next run finishes and applies" equals "$RC $(cat "$KERN/kern.dll") $(leftovers)" "0 kern v2 "
check "kept copy released: the recovery is logged" contains "$LOG" 'Ein abgebrochenes Update in C:\Kern\ wurde zurückgenommen.'

finish
