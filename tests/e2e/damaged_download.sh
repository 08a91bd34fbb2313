#!/usr/bin/env bash
# Damaged downloads: a good package cut short, with bytes flipped and with
# blocks of zeros (tests/e2e/damage.py, fixed seed), each run silently under
# Wine over the installed demo project. A run ends with exit code 2 (the
# package cannot be loaded) or 1 (the run refused it), says in its log that the
# update is damaged, and leaves the application and its registry values exactly
# as they were. The one other outcome allowed is damage that changes nothing
# the updater uses (a bit that zlib never reads): then the run installs exactly
# what the intact package installs. DAMAGED_CASES sets the number of copies
# (12; UPDATE_LONG_TESTS=1: 200), DAMAGED_SEED the seed.
source "$(dirname "$0")/../wine/lib.sh"
source "$SOURCE_DIR/tests/wine/update_fixture.sh"
EXTRA_MAIN=() EXTRA_INI=()

default_cases=12
[ "${UPDATE_LONG_TESTS:-0}" != 0 ] && default_cases=200
cases=${DAMAGED_CASES:-$default_cases}
seed=${DAMAGED_SEED:-8}

# A package with an entry of several segments, so that cuts and holes also fall between segments.
seq 1 40000 > "$WORK/big.txt"
build_package "$WORK/good.exe" 'add\Demo\big.txt='"$WORK/big.txt" --segment 65536

# A Wine server that stays up between the runs, so that each run starts at once.
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -p
trap '"$WINESERVER" -k 2>/dev/null; rm -rf "$WORK"' EXIT

# A silent run to its end, with its log; the server stays up, so this waits for the program only.
run_silent() {
  rm -f "$UPD/update.log"
  RC=0
  (cd "$UPD" && "$WINE" 'C:\upd\update.exe' /S /LOG='C:\upd\update.log') || RC=$?
  LOG=""
  if [ -f "$UPD/update.log" ]; then LOG=$(iconv -f CP1252 -t UTF-8 < "$UPD/update.log"); fi
}
installed_state() {
  tree_state
  echo "Ver=$(reg_get "$PROJECT\\Ver" "")"
  echo "Status=$(reg_get "$PROJECT" Status)"
}
fresh_install() {
  install_project 4.1
  app_reg delete "$PROJECT" /v Status /f >/dev/null 2>&1 || true
  fresh=$(installed_state)
}

python3 "$SOURCE_DIR/tests/e2e/damage.py" "$WORK/good.exe" "$WORK/damaged" "$cases" "$seed" > "$WORK/cases.txt"
mkdir -p "$UPD"
fresh_install
cp "$WORK/good.exe" "$UPD/update.exe"
run_silent
check "the intact package installs" equals "$RC" 0
intact=$(installed_state)
check "the intact package's state is read" contains "$intact" "Ver=4.2"
fresh_install
check "the installed state is read" contains "$fresh" "Ver=4.1"

refused=0 harmless=0
while read -r name kind offset detail; do
  cp "$WORK/damaged/$name" "$UPD/update.exe"
  run_silent
  after=$(installed_state)
  what="$name $kind at $offset ($detail)"
  if [ "$RC" = 0 ]; then
    harmless=$((harmless + 1))
    check "$what: exit 0 only as the intact package" equals "$after" "$intact"
  else
    refused=$((refused + 1))
    check "$what: exit 2" equals "$RC" 2
    check "$what: log says so" contains "$LOG" "Das Update ist beschädigt oder unvollständig."
    check "$what: application and registry unchanged" equals "$after" "$fresh"
  fi
  [ "$after" = "$fresh" ] || fresh_install
done < "$WORK/cases.txt"
echo "$((refused + harmless)) damaged packages: $refused refused, $harmless harmless (installed as the intact one)"
finish
