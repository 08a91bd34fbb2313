#!/usr/bin/env bash
# The two cases of the durability figures under Wine, with a Windows build of
# the updater: a part with rollback that replaces 1,500 files of 16 KiB, and
# one new entry of 1 GiB. Each package runs with /S into a freshly installed
# C:\App, the installed files on the disk before the run; the wall clock of
# the run is taken. Every run is paired with one of the same package whose
# flushes do nothing: Wine's processes then find fsync, fdatasync and syncfs
# replaced by functions that return at once (a library of the script's own,
# preloaded; built with cc). Printed: the median of
# REPETITIONS pairs (default 3) of each, and the ratio of each pair.
#   WIN_BITS=32 WIN_DIR=build/win32 WINEPREFIX=/tmp/bench-prefix bash bench/wine_durability.sh
source "$(dirname "$0")/../tests/wine/lib.sh"
SOURCE_DIR="$(cd "$(dirname "$0")/.." && pwd)"
REPETITIONS=${REPETITIONS:-3}
C="$(drive_c)"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
[ -d "$C/windows" ] || { "$WINE" wineboot -i >/dev/null 2>&1; "$WINESERVER" -w; }

ini() { printf 'P=Benchmark\r\nV=2.0\r\n\r\n[App]\r\nN=Benchmark-Anwendung\r\nTDIR=C:\\App\\\r\n%s' "$1" > "$WORK/update.ini"; }
printf '' > "$WORK/todel.txt"

# The rollback part: 1,500 entries of 16 KiB over older installed files.
mkdir -p "$WORK/files"
head -c 16384 /dev/urandom | base64 -w 0 | head -c 16384 > "$WORK/files/one.dat"
ini $'ROLLBACK=1\r\n'
entries=()
for i in $(seq -f '%04g' 0 1499); do entries+=("rep\\App\\datei$i.dat=$WORK/files/one.dat"); done
python3 "$SOURCE_DIR/tests/e2e/mkarchive.py" --stub "$WIN_DIR/update.exe" -o "$WORK/rollback.exe" \
  "todel.txt=$WORK/todel.txt" "update.ini=$WORK/update.ini" "${entries[@]}"
# The large entry: 1 GiB, text and random bytes.
ini ""
for _ in $(seq 32); do cat "$WORK/files/one.dat"; done > "$WORK/files/text.dat"
{ for _ in $(seq 1024); do cat "$WORK/files/text.dat"; head -c 262144 /dev/zero; head -c 262144 /dev/urandom; done; } \
  > "$WORK/big.bin"
python3 "$SOURCE_DIR/tests/e2e/mkarchive.py" --stub "$WIN_DIR/update.exe" -o "$WORK/large.exe" --segment 1048576 \
  "todel.txt=$WORK/todel.txt" "update.ini=$WORK/update.ini" "add\\App\\big.bin=$WORK/big.bin"
rm -f "$WORK/big.bin"

# Flushes that do nothing, for the processes of Wine started with LD_PRELOAD.
printf '%s\n' 'int fsync(int fd) { (void)fd; return 0; }' 'int fdatasync(int fd) { (void)fd; return 0; }' \
  'int syncfs(int fd) { (void)fd; return 0; }' > "$WORK/noflush.c"
# Both widths: the 32-bit loader flushes a file, the 64-bit wineserver may flush a volume
# (the dynamic loader passes over the library of the other width with a warning).
cc -m64 -shared -nostdlib -fPIC -O2 -o "$WORK/noflush64.so" "$WORK/noflush.c"
noflush="$WORK/noflush64.so"
[ "$WIN_BITS" = 64 ] || { cc -m32 -shared -nostdlib -fPIC -O2 -o "$WORK/noflush32.so" "$WORK/noflush.c" &&
  noflush="$WORK/noflush32.so $noflush"; }

# One run of the package ($3: "noflush" for flushes that do nothing); prints its wall clock in seconds.
run_once() {
  rm -rf "$C/App" "$C/upd" && mkdir -p "$C/App" "$C/upd"
  if [ "$2" = rollback ]; then
    for i in $(seq -f '%04g' 0 1499); do head -c 8192 "$WORK/files/one.dat" > "$C/App/datei$i.dat"; done
    touch -d '2020-01-01 10:00:00' "$C/App"/*
  fi
  cp "$1" "$C/upd/update.exe"
  sync
  "$WINESERVER" -w
  local preload=()
  [ "$3" = noflush ] && preload=(env "LD_PRELOAD=$noflush")
  /usr/bin/time -f %e -o "$WORK/time" "${preload[@]}" "$WINE" 'C:\upd\update.exe' /S /LOG='C:\upd\update.log' \
    2>/dev/null || true
  "$WINESERVER" -w
  grep -q 'Dateien' "$C/upd/update.log" || { echo "the run failed" >&2; exit 1; }
  cat "$WORK/time"
}
median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

# Alternating which of a pair comes first, so that neither always finds the other's writes in the cache.
for case in rollback large; do
  flushed=() unflushed=() ratios=()
  for rep in $(seq "$REPETITIONS"); do
    if [ $((rep % 2)) = 1 ]; then
      f=$(run_once "$WORK/$case.exe" "$case" flush); u=$(run_once "$WORK/$case.exe" "$case" noflush)
    else
      u=$(run_once "$WORK/$case.exe" "$case" noflush); f=$(run_once "$WORK/$case.exe" "$case" flush)
    fi
    flushed+=("$f") unflushed+=("$u") ratios+=("$(awk -v f="$f" -v u="$u" 'BEGIN {printf "%.2f", f / u}')")
  done
  mf=$(printf '%s\n' "${flushed[@]}" | median) mu=$(printf '%s\n' "${unflushed[@]}" | median)
  echo "$case: $mf s flushed, $mu s without flushes, $(awk -v f="$mf" -v u="$mu" 'BEGIN {printf "%.2f", f / u}')x" \
    "(pairs: ${ratios[*]}; runs: ${flushed[*]} / ${unflushed[*]})"
done
