#!/usr/bin/env bash
# The package cannot be swapped after the publisher check. A package signed
# with the pinned certificate lies in C:\; while the updater waits for its
# [CheckRun] file, the test driver, which holds that file, tries as the
# package's owner could to write an altered package (same length, same
# offsets, a sound entry with other data) over it, or to rename it away and
# copy the altered one in its place. Windows refuses both while the updater
# holds the package, and the run installs the signed data; never the altered.
source "$(dirname "$0")/../wine/lib.sh"
source "$SOURCE_DIR/tests/wine/update_fixture.sh"
for tool in openssl osslsigncode; do
  command -v $tool >/dev/null || { echo "FAIL: $tool is missing (make deps installs it)"; exit 1; }
done
EXTRA_MAIN=() EXTRA_INI=('[CheckRun]' 'C:\upd\checkrun.dat')
mkdir -p "$UPD"

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$WORK/pub.key" -out "$WORK/pub.pem" -days 2 \
  -subj "/CN=Mevo Publisher" >/dev/null 2>&1
PUB=$(openssl x509 -in "$WORK/pub.pem" -noout -fingerprint -sha256 | sed 's/.*=//; s/://g')
build_package "$WORK/plain.exe"
osslsigncode sign -certs "$WORK/pub.pem" -key "$WORK/pub.key" -n Update -h sha256 -in "$WORK/plain.exe" \
  -out "$WORK/signed.exe" >/dev/null
app_reg add 'HKLM\Software\Mevo\Tarnix.exe' /v UpdateSigner /t REG_SZ /d "$PUB" /f >/dev/null
# The altered package: data.txt's 5000 'd' become 5000 'e', a zlib stream of
# the same length, so every offset stays and the entry inflates without error.
python3 - "$WORK/signed.exe" "$UPD/altered.exe" <<'PY'
import sys, zlib
data = open(sys.argv[1], "rb").read()
old, new = zlib.compress(b"d" * 5000, 6), zlib.compress(b"e" * 5000, 6)
assert len(old) == len(new) and data.count(old) == 1
open(sys.argv[2], "wb").write(data.replace(old, new))
PY
cp "$WIN_DIR/win32driver.exe" "$UPD/"

# One run while the driver changes the package in mode $1; SWAP: what Windows answered,
# OUTCOME: what the run installed of data.txt.
run_swapped() {
  install_project 4.1
  local before
  before=$(tree_state)
  cp "$WORK/signed.exe" "$C/update.exe" && rm -f "$C/update.exe.away"
  printf 'x' > "$UPD/checkrun.dat"
  "$WINE" 'C:\upd\win32driver.exe' swap 'C:\upd\checkrun.dat' 'C:\update.exe' 'C:\upd\altered.exe' "$1" 60 \
    > "$WORK/swap.out" 2>&1 &
  local swapper=$!
  for _ in $(seq 150); do grep -q holding "$WORK/swap.out" 2>/dev/null && break; sleep 0.2; done
  run_update 'C:\update.exe' /S /V /WAIT=60 /LOG='C:\upd\update.log'
  wait "$swapper" || true
  SWAP=$(tr -d '\r' < "$WORK/swap.out" | grep -v holding | tr '\n' ' ')
  local data
  data=$(head -c 1 "$APP/sub/data.txt" 2>/dev/null || true)
  if [ "$data" = e ]; then OUTCOME="altered data installed"
  elif [ "$RC" = 0 ] && [ "$data" = d ]; then OUTCOME="signed data installed"
  elif [ "$RC" = 2 ] && [ "$(tree_state)" = "$before" ]; then OUTCOME="refused, nothing changed"
  else OUTCOME="exit $RC, data.txt '${data}'"; fi
}

one_of() { local x=$1; shift; for y; do [ "$x" = "$y" ] && return 0; done; echo "got: $x"; return 1; }
# run_update runs C:\upd\update.exe; this one runs the package in C:\.
run_update() {
  rm -f "$UPD/update.log"
  run_windows_program "$@"
  "$WINESERVER" -w
  LOG=$(iconv -f CP1252 -t UTF-8 < "$UPD/update.log" 2>/dev/null || true)
}

for mode in write rename; do
  run_swapped $mode
  check "$mode: the run passed the pinned publisher check" contains "$LOG" "Signiert mit Zertifikat $PUB"
  check "$mode: Windows refuses the change of the package" contains "$SWAP" "$mode: refused, error 32"
  check "$mode: the signed data installed, or nothing" one_of "$OUTCOME" "signed data installed" "refused, nothing changed"
  check "$mode: the package in C:\\ is the signed one" equals "$(cmp -s "$C/update.exe" "$WORK/signed.exe" && echo same)" same
done
finish
