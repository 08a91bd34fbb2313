#!/usr/bin/env bash
# Benchmark of mkupdate build: a generated tree of about 200 MB (text, program
# binaries, random data) built with 1 and with 2 threads, and the archive's
# size against gzip -6 of the same files. Not a test: it prints figures.
#
#   tools/bench/build_bench.sh [MKUPDATE] [SIZE_MB]
set -euo pipefail
MKUPDATE=${1:-build/native/mkupdate}
SIZE_MB=${2:-200}
[ -x "$MKUPDATE" ] || { echo "mkupdate not found: $MKUPDATE (make native first)"; exit 2; }
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
PKG="$WORK/pkg"
mkdir -p "$PKG/add/App/text" "$PKG/add/App/bin" "$PKG/rep/App/data"
printf 'P=Benchmark\r\nV=1.0\r\n\r\n[App]\r\nN=Benchmark\r\nTDIR=C:\\App\r\n' >"$PKG/update.ini"

# Pools of 16 MB from which the files take slices: text (headers, licences),
# program binaries, random bytes.
POOL="$WORK/pool"; mkdir -p "$POOL"
pool() {  # pool NAME FILES...
  local out="$POOL/$1"; shift
  { for _ in 1 2 3 4 5 6 7 8; do cat "$@" 2>/dev/null; done; } | head -c $((16 * 1048576)) >"$out" || true
}
pool text /usr/include/*.h /usr/share/common-licenses/*
pool bin /usr/bin/*
head -c $((16 * 1048576)) /dev/urandom >"$POOL/random"

# Fills files of 0.1 to 4 MB with slices of a pool until `mb` megabytes are written.
fill() {  # fill FOLDER POOL MB
  local left=$(($3 * 1048576)) n=0 size skip
  while [ $left -gt 0 ]; do
    size=$(( (RANDOM % 40 + 1) * 102400 )); [ $size -gt $left ] && size=$left
    skip=$(( RANDOM % 12 * 1048576 ))
    dd if="$POOL/$2" of="$1/$2$n.dat" bs=1M iflag=skip_bytes,count_bytes skip=$skip count=$size status=none
    left=$((left - size)); n=$((n + 1))
  done
}
RANDOM=7   # the same mix of file sizes on every run
fill "$PKG/add/App/text" text $((SIZE_MB * 40 / 100))
fill "$PKG/add/App/bin" bin $((SIZE_MB * 35 / 100))
fill "$PKG/rep/App/data" random $((SIZE_MB * 25 / 100))
rm -rf "$POOL"

files=$(find "$PKG" -type f | wc -l)
bytes=$(find "$PKG" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
calc() { awk "BEGIN { printf \"%.4f\", $1 }"; }
# Wall-clock and CPU seconds (user + system) of a command: "wall cpu".
timed() { local TIMEFORMAT='%R %U %S' t; t=$( { time "$@" >/dev/null; } 2>&1 ); echo "$t" | awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }'; }
sync
load=$(cut -d' ' -f1 /proc/loadavg)
read -r t1 c1 < <(timed "$MKUPDATE" build --threads 1 --date "2024-03-15 14:30:10" -o "$WORK/t1.vpa" "$PKG")
read -r t2 c2 < <(timed "$MKUPDATE" build --threads 2 --date "2024-03-15 14:30:10" -o "$WORK/t2.vpa" "$PKG")
cmp -s "$WORK/t1.vpa" "$WORK/t2.vpa" || { echo "1 and 2 threads gave different archives"; exit 1; }
"$MKUPDATE" test "$WORK/t1.vpa" >/dev/null || { echo "the archive does not test sound"; exit 1; }
archive=$(stat -c %s "$WORK/t1.vpa")
gzip_start=$(date +%s.%N)
gz=0
while read -r f; do gz=$((gz + $(gzip -6 -c "$f" | wc -c))); done < <(find "$PKG" -type f)
tg=$(calc "$(date +%s.%N) - $gzip_start")

printf 'tree:             %d files, %d bytes (%d MB)\n' "$files" "$bytes" $((bytes / 1048576))
printf 'load average:     %s (on %d cores) before the builds\n' "$load" "$(nproc)"
printf 'build, 1 thread:  %.2f s wall, %.2f s CPU\n' "$t1" "$c1"
printf 'build, 2 threads: %.2f s wall, %.2f s CPU  (speed-up %.2f)\n' "$t2" "$c2" "$(calc "$t1 / $t2")"
printf 'archive:          %d bytes (%.1f %% of the tree)\n' "$archive" "$(calc "100 * $archive / $bytes")"
printf 'gzip -6, per file: %d bytes in %.2f s; archive / gzip = %.4f\n' "$gz" "$tg" "$(calc "$archive / $gz")"
