#!/usr/bin/env bash
# make fuzz: builds the libFuzzer targets with clang (AddressSanitizer and
# UBSan) and runs each for FUZZ_SECONDS (default 600), one after the other, at
# the lowest priority. The committed inputs in fuzz/corpus/<target> are read,
# never written; new ones collect in OUT/corpus/<target>, findings in
# OUT/artifacts/<target>/, each run's output in OUT/logs/<target>.log. A
# single allocation above 256 MB counts as a finding: no input of a few
# kilobytes may make the updater ask for that much. The
# summary gives executions and findings per target; the exit code is 1 when
# anything was found. FUZZ_MERGE=1 renews the committed corpus afterwards:
# the seeds and the fewest inputs that reach every edge reached so far.
#
#   fuzz/fuzz.sh OUT [TARGET...]
set -euo pipefail
SOURCE=$(cd "$(dirname "$0")/.." && pwd)
OUT=$(mkdir -p "$1" && cd "$1" && pwd)
shift
SECONDS_PER_TARGET=${FUZZ_SECONDS:-600}
# shellcheck disable=SC2207
TARGETS=("$@")
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=($(sed -n 's/^set(FUZZ_TARGETS \(.*\))$/\1/p' "$SOURCE/fuzz/Targets.cmake"))
export TZ=Europe/Berlin

python3 "$SOURCE/fuzz/transcode.py" "$SOURCE" "$OUT/source"
CC=clang CXX=clang++ cmake -S "$OUT/source/fuzz" -B "$OUT/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DUPDATE_SOURCE="$OUT/source" >/dev/null
nice -n 19 cmake --build "$OUT/build" -j "${JOBS:-2}"

max_len() {
  case "$1" in
  archive | decompress | patch | certificate_table) echo 4096 ;;
  control_file | journal) echo 2048 ;;
  *) echo 512 ;;
  esac
}

# The committed corpus becomes the seeds plus the fewest inputs that reach
# every edge reached so far (edges only, so that it stays small).
merge() {
  local target=$1 fresh="$OUT/merged/$1"
  rm -rf "$fresh" && mkdir -p "$fresh"
  cp "$SOURCE/fuzz/corpus/$target"/seed-* "$fresh/"
  nice -n 19 "$OUT/build/fuzz_$target" -merge=1 -use_counters=0 -max_len="$(max_len "$target")" "$fresh" \
    "$OUT/corpus/$target" "$SOURCE/fuzz/corpus/$target" >"$OUT/logs/$target.merge.log" 2>&1
  find "$SOURCE/fuzz/corpus/$target" -type f ! -name 'seed-*' -delete
  cp -n "$fresh"/* "$SOURCE/fuzz/corpus/$target/"
  echo "$target: corpus of $(find "$SOURCE/fuzz/corpus/$target" -type f | wc -l) inputs"
}

found=0
summary=""
for target in "${TARGETS[@]}"; do
  mkdir -p "$OUT/corpus/$target" "$OUT/artifacts/$target" "$OUT/logs"
  dict=()
  [ -f "$SOURCE/fuzz/dict/$target.dict" ] && dict=(-dict="$SOURCE/fuzz/dict/$target.dict")
  echo "fuzzing $target for ${SECONDS_PER_TARGET}s"
  status=0
  nice -n 19 "$OUT/build/fuzz_$target" -max_total_time="$SECONDS_PER_TARGET" -max_len="$(max_len "$target")" \
    -timeout=30 -rss_limit_mb=2048 -malloc_limit_mb=256 -print_final_stats=1 -artifact_prefix="$OUT/artifacts/$target/" "${dict[@]}" \
    "$OUT/corpus/$target" "$SOURCE/fuzz/corpus/$target" >"$OUT/logs/$target.log" 2>&1 || status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$OUT/logs/$target.log" | tail -1)
  # Slow inputs are kept for a look but are no findings: crashes, leaks, timeouts and memory are.
  findings=$(find "$OUT/artifacts/$target" -type f ! -name 'slow-unit-*' | wc -l)
  [ "$status" -eq 0 ] && [ "$findings" -eq 0 ] || found=1
  summary+=$(printf '%-14s %12s executions  %3d findings  exit %d' "$target" "${execs:-?}" "$findings" "$status")$'\n'
  if [ "${FUZZ_MERGE:-0}" = 1 ]; then merge "$target"; fi
done
printf '%s' "$summary"
exit "$found"
