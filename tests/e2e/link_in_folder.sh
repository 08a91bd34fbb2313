#!/usr/bin/env bash
# A user who may make folders in the application's folder makes one lead
# elsewhere: here a Unix symbolic link, which Wine reports as a reparse point
# (FILE_ATTRIBUTE_REPARSE_POINT with FILE_ATTRIBUTE_DIRECTORY, as a junction;
# Wine 8's "mklink /j" makes nothing). Behind it lie her files named like the
# updater's temporaries, and one more of hers in the application's folder
# looks like one. A run that finds an empty journal there leaves all of them
# as they were (the clean-up removes only what a journal names); a killed
# run's journal and a deletion list that name paths behind the link stop the
# run with nothing behind it changed, and the log says why.
source "$(dirname "$0")/../wine/lib.sh"
source "$SOURCE_DIR/tests/wine/update_fixture.sh"
EXTRA_MAIN=() EXTRA_INI=() EXTRA_TODEL=()
OTHER="$C/Fremd"

# The application with the link and the user's files; the journal's lines follow (none: an empty one).
plant() {
  install_project 4.1
  rm -rf "$OTHER" && mkdir -p "$OTHER" "$APP/Daten"
  printf 'ledger' > "$OTHER/ledger.xls.~u2"
  printf 'report' > "$OTHER/report.doc.~b1"
  printf 'victim' > "$OTHER/victim.dll"
  printf 'kunden' > "$APP/Daten/Kunden.mdb.~c1"
  ln -s ../Fremd "$APP/link"
  : > "$APP/~update0.~rj"
  if [ $# -gt 0 ]; then crlf_file "$APP/~update0.~rj" "$@"; fi
}
users_files() { (cd "$C" && md5sum Fremd/* App/Daten/*); }

build_package "$UPD/update.exe"
plant
before=$(users_files)
run_update /S /LOG='C:\upd\update.log'
check "empty journal: the run succeeds" equals "$RC $(cat "$APP/prog.exe")" "0 program v2"
check "empty journal: the user's files are as they were" equals "$(users_files)" "$before"
check "empty journal: it is gone" equals "$(ls "$APP" | grep -c '~rj')" 0

plant 'NC:\App\link\ledger.xls||-2|-1|-1' 'TC:\App\link\report.doc||-2|-1|-1'
run_update /S /LOG='C:\upd\update.log'
check "journal naming paths behind the link: the run stops" equals "$RC $(cat "$APP/readme.txt")" "1 old readme"
check "journal naming paths behind the link: the user's files are as they were" equals "$(users_files)" "$before"
check "journal naming paths behind the link: the journal stays" equals "$(ls "$APP" | grep -c '~rj')" 1
check "journal naming paths behind the link: the log says why" contains "$LOG" \
  $'*** C:\\App\\link\\ledger.xls liegt hinter einer Verknüpfung und wird nicht angetastet.\r\n'

EXTRA_TODEL=('Demo\link\victim.dll' 'Demo\link\report.doc')
build_package "$UPD/update.exe"
plant
rm "$APP/~update0.~rj"
run_update /S /LOG='C:\upd\update.log'
check "deletion list naming files behind the link: the run fails" equals "$RC" 1
check "deletion list naming files behind the link: the user's files are as they were" equals "$(users_files)" "$before"
check "deletion list naming files behind the link: the log says why" contains "$LOG" \
  $'*** C:\\App\\link\\victim.dll liegt hinter einer Verknüpfung und wird nicht gelöscht.\r\n'

# Windows takes "/" for "\" as well.
EXTRA_TODEL=('Demo\link/victim.dll')
build_package "$UPD/update.exe"
plant
rm "$APP/~update0.~rj"
run_update /S /LOG='C:\upd\update.log'
check "deletion list with a forward slash: the run fails" equals "$RC" 1
check "deletion list with a forward slash: the user's files are as they were" equals "$(users_files)" "$before"
rm -rf "$OTHER"
finish
