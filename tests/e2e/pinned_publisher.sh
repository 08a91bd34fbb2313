#!/usr/bin/env bash
# The pinned publisher under Wine: with the host's value UpdateSigner set, a
# package is applied only when it is signed by a certificate named there and
# its signature matches the file; anything else ends with 2, changes nothing
# and the log names the thumbprint found (or "keine Signatur"). Two names, as
# while a publisher changes its certificate, admit either. Without the value,
# signed and unsigned packages are applied as before. mkupdate signer and
# list --json give the thumbprint that openssl gives. Certificates are made here.
source "$(dirname "$0")/../wine/lib.sh"
source "$SOURCE_DIR/tests/wine/update_fixture.sh"
EXTRA_MAIN=() EXTRA_INI=()
for tool in openssl osslsigncode; do
  command -v $tool >/dev/null || { echo "FAIL: $tool is missing (make deps installs it)"; exit 1; }
done
HOST='HKLM\Software\Mevo\Tarnix.exe'
mkdir -p "$UPD"
# The pin is a value of the shared prefix: it goes on every ending, or a script stopped midway
# would leave later tests refused as unsigned.
trap 'pin ""; rm -rf "$WORK"' EXIT

# A certificate named $1 (subject $2), its thumbprint as openssl gives it (upper case, colons left out), and plain.exe signed with it.
certificate() {
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$WORK/$1.key" -out "$WORK/$1.pem" -days 2 -subj "/CN=$2" >/dev/null 2>&1
}
fingerprint() { openssl x509 -in "$WORK/$1.pem" -noout -fingerprint -sha256 | sed 's/.*=//; s/://g'; }
sign() { osslsigncode sign -certs "$WORK/$1.pem" -key "$WORK/$1.key" -n Update -h sha256 -in "$WORK/plain.exe" -out "$WORK/$1.exe" >/dev/null; }
pin() {
  if [ -z "$1" ]; then app_reg delete "$HOST" /v UpdateSigner /f >/dev/null 2>&1 || true
  else app_reg add "$HOST" /v UpdateSigner /t REG_SZ /d "$1" /f >/dev/null; fi
}
# Applies $WORK/$1.exe to a fresh installation; RC, LOG, and STATE: whether the application changed.
apply() {
  install_project 4.1
  local before
  before=$(tree_state)
  cp "$WORK/$1.exe" "$UPD/update.exe"
  run_update /S /V /LOG='C:\upd\update.log'
  [ "$(tree_state)" = "$before" ] && STATE=unchanged || STATE=changed
}

certificate pub "Mevo Publisher"
certificate other "Someone Else"
certificate next "Mevo Publisher 2027"
PUB=$(fingerprint pub) OTHER=$(fingerprint other) NEXT=$(fingerprint next)
build_package "$WORK/plain.exe"
sign pub; sign other; sign next
# One letter of an entry's name in the archive's directory, changed after signing: the
# archive stays sound (a replacement of a file that is not there), only the signature tells.
python3 - "$WORK/pub.exe" "$WORK/altered.exe" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
at = data.index(b"notthere.txt")
data[at + 4] = ord("a")
open(sys.argv[2], "wb").write(data)
PY

# Another archive put after the signed one's certificate table, with the table's
# directory entry (which the signature leaves out) widened to the new end: the
# signature still matches, so the updater must take the archive before the table.
printf 'smuggled' > "$WORK/evil.txt"
build_package "$WORK/evil.exe" 'add\Demo\evil.txt='"$WORK/evil.txt"
python3 - "$WORK/pub.exe" "$WORK/evil.exe" "$WORK/smuggled.exe" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
evil = open(sys.argv[2], "rb").read()
base = struct.unpack("<I", evil[-8:-4])[0]
at = len(data)
data += evil[base:-8] + struct.pack("<Ii", at, 0x1111)
pe = struct.unpack("<I", data[0x3C:0x40])[0]
entry = pe + 24 + (96 if data[pe + 24:pe + 26] == b"\x0b\x01" else 112) + 4 * 8
offset = struct.unpack("<I", data[entry:entry + 4])[0]
data[entry + 4:entry + 8] = struct.pack("<I", len(data) - offset)
open(sys.argv[3], "wb").write(data)
PY

check "mkupdate signer names the pinned thumbprint as openssl does" \
  contains "$("$NATIVE_DIR/mkupdate" signer "$WORK/pub.exe")" "thumbprint (SHA-256, upper case): $PUB"
check "mkupdate signer prints the command that pins it" \
  contains "$("$NATIVE_DIR/mkupdate" signer "$WORK/pub.exe")" "/v UpdateSigner /t REG_SZ /d $PUB"
check "list --json: subject, thumbprint, the signature matches" equals \
  "$("$NATIVE_DIR/mkupdate" list --json "$WORK/pub.exe" | python3 -c 'import json,sys; s=json.load(sys.stdin)["signer"]; print(s["subject"], s["thumbprint"], s["signature_matches"])')" \
  "Mevo Publisher $PUB True"
check "list --json: the altered package's signature does not match" equals \
  "$("$NATIVE_DIR/mkupdate" list --json "$WORK/altered.exe" | python3 -c 'import json,sys; print(json.load(sys.stdin)["signer"]["signature_matches"])')" \
  False
cp "$WORK/pub.exe" "$UPD/pub.exe"
"$WINE" "$WIN_DIR/mkupdate.exe" signer 'C:\upd\pub.exe' > "$WORK/signer.out" 2>&1 || true
check "mkupdate.exe, with Windows' crypto, names the same thumbprint" \
  contains "$(tr -d '\r' < "$WORK/signer.out")" "thumbprint (SHA-256, upper case): $PUB"
check "check finds the altered package's signature at fault (exit 1)" \
  contains "$("$NATIVE_DIR/mkupdate" check "$WORK/altered.exe"; echo "exit $?")" "does NOT match the file (changed after signing)
1 error(s), 1 warning(s)
exit 1"

pin "$PUB"
apply pub
check "pinned, signed with the pinned certificate: applied" equals "$RC $STATE" "0 changed"
check "pinned: the log names the signer" contains "$LOG" "Signiert mit Zertifikat $PUB (Mevo Publisher)."
declare -A said=(
  [other]=$'einem nicht hinterlegten Zertifikat.\r\nSigniert mit Zertifikat '"$OTHER (Someone Else)."
  [plain]="vom Herausgeber: keine Signatur."
  [altered]=$'die Signatur passt nicht zur Datei: sie wurde nach dem Signieren verändert.\r\nSigniert mit Zertifikat '"$PUB")
for package in other plain altered; do
  apply $package
  check "pinned, $package: exit 2, nothing changed" equals "$RC $STATE $(reg_get "$PROJECT\\Ver" "")" "2 unchanged 4.1"
  check "pinned, $package: the log says why, naming the thumbprint found" contains "$LOG" "${said[$package]}"
done

apply smuggled
check "pinned, an archive after the signed table: the signed one applied" equals \
  "$RC $STATE $([ -e "$APP/evil.txt" ] && echo smuggled)" "0 changed "

pin "$PUB;$NEXT"
apply next
check "two pins, signed with the second: applied" equals "$RC $STATE" "0 changed"

# A value that cannot be read as text turns nothing off: the run is refused.
pin ""
app_reg add "$HOST" /v UpdateSigner /t REG_MULTI_SZ /d "$PUB" /f >/dev/null
apply pub
check "pinned as a list of strings: exit 2, nothing changed, said so" equals \
  "$RC $STATE $(grep -c 'Der Wert UpdateSigner kann nicht gelesen werden.' <<<"$LOG")" "2 unchanged 1"

pin ""
for package in plain pub altered; do
  apply $package
  check "no pin, $package: applied as before" equals "$RC $STATE" "0 changed"
done
check "no pin: the extended log names the signer" contains "$LOG" $'\r\nSigniert mit Zertifikat '"$PUB (Mevo Publisher)."
finish
