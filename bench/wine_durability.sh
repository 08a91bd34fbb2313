#!/usr/bin/env bash
# The two cases of the durability figures under Wine, with a Windows build of
# the updater: a part with rollback that replaces 1,500 files of 16 KiB, and
# one new entry of 1 GiB. Each package runs with /S into a freshly installed
# C:\App, the installed files on the disk before the run; the wall clock of
# the run is taken, and the median of REPETITIONS runs (default 3) printed.
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

# One run of the package; prints its wall clock in seconds.
run_once() {
  rm -rf "$C/App" "$C/upd" && mkdir -p "$C/App" "$C/upd"
  if [ "$2" = rollback ]; then
    for i in $(seq -f '%04g' 0 1499); do head -c 8192 "$WORK/files/one.dat" > "$C/App/datei$i.dat"; done
    touch -d '2020-01-01 10:00:00' "$C/App"/*
  fi
  cp "$1" "$C/upd/update.exe"
  sync
  /usr/bin/time -f %e -o "$WORK/time" "$WINE" 'C:\upd\update.exe' /S /LOG='C:\upd\update.log' || true
  "$WINESERVER" -w
  grep -q 'Dateien' "$C/upd/update.log" || { echo "the run failed" >&2; exit 1; }
  cat "$WORK/time"
}
median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

for case in rollback large; do
  times=$(for _ in $(seq "$REPETITIONS"); do run_once "$WORK/$case.exe" "$case"; done)
  echo "$case: $(echo "$times" | median) s (runs: $(echo $times))"
done
