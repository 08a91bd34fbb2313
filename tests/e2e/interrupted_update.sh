#!/usr/bin/env bash
# Interrupted updates under Wine: update.exe is killed (SIGKILL, the whole
# Wine process) at moments drawn with a fixed seed, spread evenly over the
# time a run takes, and then run again. Right after each kill every file of the
# application holds its old or its new content, whole; the run after it
# finishes the update, and leaves exactly the files and registry values of an
# uninterrupted run, temporary files included. The first part has ROLLBACK=1:
# after the next run it is entirely new, and no copy that it kept is left.
# INTERRUPTED_CASES sets the number of kills (2; UPDATE_LONG_TESTS=1: 40),
# INTERRUPTED_SEED the seed.
source "$(dirname "$0")/../wine/lib.sh"
source "$SOURCE_DIR/tests/wine/update_fixture.sh"
# The part with rollback comes first, so that its files are written early in the run.
EXTRA_MAIN=("" "[Kern]" "N=Kern-Modul" 'TDIR=C:\Kern' "ROLLBACK=1" 'VResult=R\Tarnix.exe\Projects\Demo\Kern=2') EXTRA_INI=()
EXTRA_TODEL=('Kern\alt.dll')
KERN="$C/Kern"

default_cases=2
[ "${UPDATE_LONG_TESTS:-0}" != 0 ] && default_cases=40
cases=${INTERRUPTED_CASES:-$default_cases}
RANDOM=${INTERRUPTED_SEED:-8}

# A Wine server that stays up between the runs, so that a run starts at once
# and the kills fall on its work rather than on Wine's start-up.
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -p
trap '"$WINESERVER" -k 2>/dev/null; rm -rf "$WORK"' EXIT

# Enough data that writing it takes a while: files of 4 MB, some of them installed before.
extra=()
mkdir -p "$WORK/new" "$WORK/old"
for i in $(seq 1 12); do
  head -c 4000000 /dev/urandom > "$WORK/new/f$i.bin"
  if [ $((i % 2)) = 0 ]; then
    head -c 1000 /dev/urandom > "$WORK/old/f$i.bin"
    extra+=('rep\Demo\f'"$i"'.bin='"$WORK/new/f$i.bin")
  else
    extra+=('add\Demo\f'"$i"'.bin='"$WORK/new/f$i.bin")
  fi
done
# And many small ones, so that moving the staged files into place takes a while too.
mkdir -p "$WORK/small"
for i in $(seq 1 100); do
  printf 'small file %d\n' "$i" > "$WORK/small/s$i.txt"
  extra+=('add\Demo\small\s'"$i"'.txt='"$WORK/small/s$i.txt")
done
# The part with rollback: two files of 2 MB, one of them installed before, one
# in a new folder, and sixty small files that replace installed ones.
mkdir -p "$WORK/kern"
for i in 1 2; do head -c 2000000 /dev/urandom > "$WORK/kern/k$i.bin"; done
extra+=('add\Kern\k1.bin='"$WORK/kern/k1.bin" 'rep\Kern\k2.bin='"$WORK/kern/k2.bin" 'add\Kern\plugins\p.bin='"$WORK/kern/k1.bin")
for i in $(seq 1 60); do
  printf 'kern file %d\n' "$i" > "$WORK/kern/t$i.txt"
  extra+=('rep\Kern\t'"$i"'.txt='"$WORK/kern/t$i.txt")
done
build_package "$WORK/update.exe" "${extra[@]}"
mkdir -p "$UPD"
cp "$WORK/update.exe" "$UPD/update.exe"

fresh_install() {
  install_project 4.1
  app_reg delete "$PROJECT" /v Status /f >/dev/null 2>&1 || true
  for i in 2 4 6 8 10 12; do cp "$WORK/old/f$i.bin" "$APP/"; touch -d '2020-01-01 10:00:00' "$APP/f$i.bin"; done
  rm -rf "$KERN" && mkdir -p "$KERN"
  cp "$WORK/old/f2.bin" "$KERN/k2.bin"
  for i in $(seq 1 60); do printf 'old %d\n' "$i" > "$KERN/t$i.txt"; done
  printf 'alt' > "$KERN/alt.dll"
  touch -d '2020-01-01 10:00:00' "$KERN"/*
  app_reg delete "$PROJECT" /v Kern /f >/dev/null 2>&1 || true
}
# A silent run to its end; the server stays up, so this waits for the program only.
run_silent() {
  RC=0
  (cd "$UPD" && "$WINE" 'C:\upd\update.exe' /S /LOG='C:\upd\update.log') || RC=$?
}
# Files with their stamps, and the two registry values.
final_state() {
  (cd "$APP" && find . -type f -printf '%p %TY-%Tm-%Td %TH:%TM\n' | sort)
  (cd "$APP" && find . -type f -exec md5sum {} + | sort)
  (cd "$KERN" && find . -type f -printf '%p %TY-%Tm-%Td %TH:%TM\n' -exec md5sum {} + | sort)
  echo "Ver=$(reg_get "$PROJECT\\Ver" "")"
  echo "Status=$(reg_get "$PROJECT" Status)"
  echo "Kern=$(reg_get "$PROJECT" Kern)"
}
# Every file of the application is one that the update knows, old or new, whole;
# outside the part with rollback (whose journal lets the next run put back a
# file it had moved aside) none that was installed before is missing.
whole_files() {
  local f name i ok=0
  for i in 2 4 6 8 10 12; do [ -f "$APP/f$i.bin" ] || { echo "f$i.bin is gone"; ok=1; }; done
  for f in "$APP"/*.* "$APP"/sub/* "$APP"/small/*; do
    [ -f "$f" ] || continue
    name=$(basename "$f")
    case "$name" in *.~*) continue ;; esac  # a temporary file of the killed run
    case "$name" in
    f*.bin) cmp -s "$f" "$WORK/new/$name" || cmp -s "$f" "$WORK/old/$name" 2>/dev/null || { echo "$name is neither old nor new"; ok=1; } ;;
    prog.exe) [ "$(cat "$f")" = "program v2" ] || { echo "prog.exe: $(wc -c < "$f") bytes"; ok=1; } ;;
    readme.txt) case "$(cat "$f")" in "old readme" | "new readme") ;; *) echo "readme.txt: $(cat "$f")"; ok=1 ;; esac ;;
    data.txt) [ "$(wc -c < "$f")" = 5000 ] || { echo "data.txt: $(wc -c < "$f") bytes"; ok=1 ;} ;;
    old.dll) [ "$(cat "$f")" = obsolete ] || { echo "old.dll changed"; ok=1; } ;;
    s*.txt) cmp -s "$f" "$WORK/small/$name" || { echo "$name is not whole"; ok=1; } ;;
    *) echo "unexpected $name"; ok=1 ;;
    esac
  done
  for f in "$KERN"/* "$KERN"/plugins/*; do
    [ -f "$f" ] || continue
    name=$(basename "$f")
    case "$name" in
    *.~*) ;;  # kept copies, staged files and the journal of the killed run
    k*.bin) cmp -s "$f" "$WORK/kern/$name" || cmp -s "$f" "$WORK/old/f${name#k}" 2>/dev/null || { echo "$name is neither old nor new"; ok=1; } ;;
    t*.txt) cmp -s "$f" "$WORK/kern/$name" || [ "$(cat "$f")" = "old ${name//[!0-9]/}" ] || { echo "$name is neither old nor new"; ok=1; } ;;
    p.bin) cmp -s "$f" "$WORK/kern/k1.bin" || { echo "p.bin is not whole"; ok=1; } ;;
    alt.dll) [ "$(cat "$f")" = alt ] || { echo "alt.dll changed"; ok=1; } ;;
    *) echo "unexpected Kern file $name"; ok=1 ;;
    esac
  done
  return $ok
}

# The kills fall anywhere within the longer of two uninterrupted runs.
duration_ms=0
for _ in 1 2; do
  fresh_install
  start=$(date +%s%N)
  run_silent
  took=$((($(date +%s%N) - start) / 1000000))
  [ "$took" -gt "$duration_ms" ] && duration_ms=$took
  check "an uninterrupted run succeeds" equals "$RC" 0
done
reference=$(final_state)
echo "an uninterrupted run takes up to ${duration_ms} ms"
midway=0 amid_rollback=0

# Starts a run, waits for `$@` (a command) to hold, kills the run and checks the
# state it left; then the next run must finish the update.
kill_case() {
  local label="$1"; shift
  fresh_install
  (cd "$UPD" && exec setsid "$WINE" 'C:\upd\update.exe' /S /LOG='C:\upd\update.log') </dev/null >/dev/null 2>&1 &
  runner=$!
  "$@" || true
  kill -KILL -- "-$runner" 2>/dev/null || true
  wait "$runner" 2>/dev/null || true
  sleep 0.2  # the server notices the end of the killed process and lets its files go
  temporaries=$(cd "$APP" && find . -name '*.~*' | wc -l)
  kept=$(cd "$KERN" && find . -name '*.~r*' | wc -l)
  written=$(for i in $(seq 1 12); do if cmp -s "$APP/f$i.bin" "$WORK/new/f$i.bin"; then echo; fi; done | wc -l)
  small=0; [ -d "$APP/small" ] && small=$(find "$APP/small" -name 's*.txt' | wc -l)
  kern_new=$(for i in $(seq 1 60); do if cmp -s "$KERN/t$i.txt" "$WORK/kern/t$i.txt"; then echo; fi; done | wc -l)
  check "$label: every file whole ($written of 12 large and $small of 100 small written, $temporaries temporary; rollback part: $kern_new of 60 new, $kept journal and kept copies)" whole_files
  if [ "$temporaries" -gt 0 ]; then midway=$((midway + 1)); fi
  if [ "$kept" -gt 0 ]; then amid_rollback=$((amid_rollback + 1)); fi
  run_silent
  check "$label: the next run succeeds" equals "$RC" 0
  check "$label: files, stamps and registry as after an uninterrupted run" equals "$(final_state)" "$reference"
}
sleep_ms() { sleep "$(printf '%d.%03d' $(($1 / 1000)) $(($1 % 1000)))"; }
# Waits (5 s at most) until the part with rollback has kept $1 files.
kept_at_least() {
  local until=$((SECONDS + 5))
  while [ "$(find "$KERN" -maxdepth 1 -name '*.~r[0-9]' 2>/dev/null | wc -l)" -lt "$1" ]; do
    [ $SECONDS -lt $until ] || return 1
  done
}

for n in $(seq 1 "$cases"); do
  # Kill n falls at a random moment of the n-th of `cases` equal slices of a run.
  delay_ms=$((duration_ms * ((n - 1) * 1000 / cases + RANDOM % (1000 / cases)) / 1000))
  kill_case "kill $n after ${delay_ms} ms" sleep_ms "$delay_ms"
done
# Two kills aimed at the part with rollback: after its first kept copy, and midway.
kill_case "kill once the rollback part has kept a file" kept_at_least 1
kill_case "kill once the rollback part has kept 30 files" kept_at_least 30
echo "$((cases + 2)) kills, $midway of them with temporary files left, that is while files were being written, $amid_rollback while the part with rollback was being applied"
finish
