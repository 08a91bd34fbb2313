#!/usr/bin/env bash
# The package cannot be swapped after the publisher check. A package signed
# with the pinned certificate lies in C:\; while the updater waits for its
# [CheckRun] file, the test driver, which holds that file, tries as the
# package's owner could to write an altered package (same length, same
# offsets, a sound entry with other data) over it, or to rename it away and
# copy the altered one in its place. Windows refuses both while the updater
# holds the package, and the run installs the signed data; never the altered.
# The same for the stand-alone archive that a bare update.exe reads (no pin:
# an archive carries no signature), which is no running program's file.
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
# The stand-alone archive is the package's archive without the executable before it.
python3 - "$WORK/signed.exe" "$UPD/altered.exe" "$WORK/plain.exe" "$WORK/alone.vpa" "$UPD/altered.vpa" <<'PY'
import struct, sys, zlib
old, new = zlib.compress(b"d" * 5000, 6), zlib.compress(b"e" * 5000, 6)
def alter(source, target):
    data = open(source, "rb").read()
    assert len(old) == len(new) and data.count(old) == 1
    open(target, "wb").write(data.replace(old, new))
alter(sys.argv[1], sys.argv[2])
plain = open(sys.argv[3], "rb").read()
open(sys.argv[4], "wb").write(plain[struct.unpack("<I", plain[-8:-4])[0]:-8])
alter(sys.argv[4], sys.argv[5])
PY
cp "$WIN_DIR/win32driver.exe" "$WIN_DIR/update.exe" "$UPD/"
# The stand-alone archive goes with the test: the prefix is shared, and a bare
# update.exe of a later test would find it.
mkdir -p "$C/Auslieferung"
trap 'rm -rf "$WORK" "$C/Auslieferung"' EXIT

# One run of PROGRAM ($1) while the driver changes the package $2 (host path $3, a copy of $4)
# in mode $5 to the altered one $6; SWAP: what Windows answered, OUTCOME: what the run installed.
run_swapped() {
  install_project 4.1
  local before
  before=$(tree_state)
  cp "$4" "$3" && rm -f "$3.away"
  printf 'x' > "$UPD/checkrun.dat"
  "$WINE" 'C:\upd\win32driver.exe' swap 'C:\upd\checkrun.dat' "$2" "$6" "$5" 60 > "$WORK/swap.out" 2>&1 &
  local swapper=$!
  for _ in $(seq 150); do grep -q holding "$WORK/swap.out" 2>/dev/null && break; sleep 0.2; done
  run_update "$1" /S /V /WAIT=60 /LOG='C:\upd\update.log'
  wait "$swapper" || true
  SWAP=$(tr -d '\r' < "$WORK/swap.out" | grep -v holding | tr '\n' ' ')
  local data
  data=$(head -c 1 "$APP/sub/data.txt" 2>/dev/null || true)
  if [ "$data" = e ]; then OUTCOME="altered data installed"
  elif [ "$RC" = 0 ] && [ "$data" = d ]; then OUTCOME="packaged data installed"
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
  run_swapped 'C:\update.exe' 'C:\update.exe' "$C/update.exe" "$WORK/signed.exe" $mode 'C:\upd\altered.exe'
  check "$mode: the run passed the pinned publisher check" contains "$LOG" "Signiert mit Zertifikat $PUB"
  check "$mode: Windows refuses the change of the package" contains "$SWAP" "$mode: refused, error 32"
  check "$mode: the packaged data installed, or nothing" one_of "$OUTCOME" "packaged data installed" "refused, nothing changed"
  check "$mode: the package in C:\\ is the signed one" equals "$(cmp -s "$C/update.exe" "$WORK/signed.exe" && echo same)" same
done

app_reg delete 'HKLM\Software\Mevo\Tarnix.exe' /v UpdateSigner /f >/dev/null
for mode in write rename; do
  run_swapped 'C:\upd\update.exe' 'C:\Auslieferung\vantUp37.vpa' "$C/Auslieferung/vantUp37.vpa" "$WORK/alone.vpa" \
    $mode 'C:\upd\altered.vpa'
  check "stand-alone archive, $mode: Windows refuses the change" contains "$SWAP" "$mode: refused, error 32"
  check "stand-alone archive, $mode: its data installed, or nothing" one_of "$OUTCOME" "packaged data installed" \
    "refused, nothing changed"
done
finish
