#!/usr/bin/env bash
# A package built with mkupdate, signed with osslsigncode and a throwaway
# self-signed certificate: the signature verifies, mkupdate still reads the
# archive, and the signed updater finds its archive under Wine.
source "$(dirname "$0")/../wine/lib.sh"
set +e
FAILURES=0
fail() { echo "FAIL: $*"; FAILURES=$((FAILURES + 1)); }
for tool in openssl osslsigncode; do
  command -v $tool >/dev/null || { echo "FAIL: $tool is missing (make deps installs it)"; exit 1; }
done
MKUPDATE="$NATIVE_DIR/mkupdate"
W="$(drive_c)/signed"
rm -rf "$W" && mkdir -p "$W/pkg/add/Demo/sub"
trap 'rm -rf "$W"' EXIT
cd "$W"

printf 'P=Signiertes Update\r\nV=1.0\r\n' >pkg/update.ini
echo "first file" >pkg/add/Demo/a.txt
head -c 200000 /dev/urandom >pkg/add/Demo/sub/data.bin
# An archive whose end is not 8-aligned makes the signer pad before its table.
for n in 1 2 3 4 5 6 7 8; do
  head -c $n /dev/zero >pkg/add/Demo/pad.bin
  "$MKUPDATE" build --stub "$WIN_DIR/update.exe" --date "2024-03-15 14:30:10" -o app.exe pkg >/dev/null || fail "build"
  [ $(( $(stat -c %s app.exe) % 8 )) -ne 0 ] && break
done

openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
  -subj "/CN=Update Test Signer" >/dev/null 2>&1 || fail "openssl made no certificate"
osslsigncode sign -certs cert.pem -key key.pem -n "Update" -h sha256 -in app.exe -out signed.exe >sign.log 2>&1 \
  || fail "signing: $(cat sign.log)"
osslsigncode verify -CAfile cert.pem -in signed.exe >verify.log 2>&1 || fail "verify: $(cat verify.log)"
grep -q "Signature verification: ok" verify.log || fail "signature not reported ok: $(cat verify.log)"
[ "$(tail -c 8 signed.exe | od -An -tx1)" != "$(tail -c 8 app.exe | od -An -tx1)" ] \
  || fail "the signed file still ends with the tail record"

"$MKUPDATE" list signed.exe >list.out 2>&1 || fail "mkupdate list of the signed file: $(cat list.out)"
diff <("$MKUPDATE" list app.exe) list.out >/dev/null || fail "signed and unsigned list differ"
"$MKUPDATE" test signed.exe >/dev/null 2>&1 || fail "mkupdate test of the signed file"

cp "$WIN_DIR/update.exe" bare.exe
timeout 120 "$WINE" 'C:\signed\bare.exe' /S; rc=$?
[ $rc -eq 2 ] || fail "the bare updater exits $rc, expected 2 (no archive)"
timeout 120 "$WINE" 'C:\signed\signed.exe' /S '/LOG=C:\signed\run.log'; rc=$?
[ $rc -eq 0 ] || fail "the signed package exits $rc, expected 0; log: $(cat run.log 2>/dev/null)"
timeout 120 "$WINE" 'C:\signed\signed.exe' '/UNPACK=C:\signed\out'; rc=$?
[ $rc -eq 0 ] || fail "unpacking the signed package exits $rc"
diff -r -x todel.txt pkg out >/dev/null || fail "the signed package unpacks to another tree"
"$WINESERVER" -w

[ "$FAILURES" -eq 0 ] && { echo "all passed"; exit 0; }
echo "$FAILURES failure(s)"; exit 1
