#!/usr/bin/env bash
# A run killed in a part with ROLLBACK=1, then the time zone moved by three
# hours (a laptop that travelled) before the next run: that run still knows
# the files that the killed run wrote as its own and takes every one of them
# back, as without the move. The next package is another one, for another
# file of the folder, and finds a newer version installed: the part stays as
# the recovery leaves it, and nothing of the killed run (kept copies, staged
# files of entries it never reached) is left.
source "$(dirname "$0")/../wine/lib.sh"
source "$SOURCE_DIR/tests/wine/update_fixture.sh"
EXTRA_MAIN=("" "[Kern]" "N=Kern-Modul" 'TDIR=C:\Kern' "ROLLBACK=1") EXTRA_INI=() EXTRA_TODEL=()
KERN="$C/Kern"
mkdir -p "$WORK/kern"
kern=()
for i in $(seq 1 300); do
  head -c 2000 /dev/urandom > "$WORK/kern/t$i.bin"
  kern+=('rep\Kern\t'"$i"'.bin='"$WORK/kern/t$i.bin")
done
printf 'other\n' > "$WORK/other.bin"

install_kern() {
  rm -rf "$KERN" && mkdir -p "$KERN"
  for i in $(seq 1 300); do printf 'old %d\n' "$i" > "$KERN/t$i.bin"; done
  touch -d '2020-01-01 10:00:00' "$KERN"/*
}
kern_state() { (cd "$KERN" && find . -type f -exec md5sum {} + | sort); }
kept_at_least() {
  local until=$((SECONDS + 20))
  while [ "$(find "$KERN" -maxdepth 1 -name '*.~r[0-9]' 2>/dev/null | wc -l)" -lt "$1" ]; do
    [ $SECONDS -lt $until ] || return 1
  done
}

for zone in UTC0 UTC-3; do
  build_package "$UPD/update.exe" "${kern[@]}"
  install_project 4.1
  install_kern
  before=$(kern_state)
  "$WINESERVER" -k 2>/dev/null || true
  (cd "$UPD" && TZ=UTC0 exec setsid "$WINE" 'C:\upd\update.exe' /S) </dev/null >/dev/null 2>&1 &
  runner=$!
  check "zone $zone: the run was killed in the part with rollback" kept_at_least 20
  kill -KILL -- "-$runner" 2>/dev/null || true
  wait "$runner" 2>/dev/null || true
  "$WINESERVER" -k 2>/dev/null || true
  new=$(for i in $(seq 1 300); do if cmp -s "$KERN/t$i.bin" "$WORK/kern/t$i.bin"; then echo; fi; done | wc -l)
  check "zone $zone: the killed run had written files ($new)" test "$new" -gt 0
  build_package "$UPD/update.exe" 'rep\Kern\other.bin='"$WORK/other.bin"
  install_project 4.5
  TZ=$zone run_update /S /LOG='C:\upd\update.log'
  check "zone $zone: the next run finds the newer version" equals "$RC" 5
  check "zone $zone: every file of the part is back" equals "$(kern_state)" "$before"
  check "zone $zone: nothing of the killed run is left" equals "$(cd "$KERN" && find . -name '*.~*' | wc -l)" 0
  check "zone $zone: the recovery is logged" contains "$LOG" 'Ein abgebrochenes Update in C:\Kern\ wurde zurückgenommen.'
done
finish
