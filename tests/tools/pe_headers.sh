#!/usr/bin/env bash
# Exploit mitigations and imports of every shipped Windows program: the PE
# headers must allow a random load address (DYNAMIC_BASE, with relocations to
# make it possible), forbid executing data (NX_COMPAT), be Terminal Services
# aware, on 64-bit use the whole address space (HIGH_ENTROPY_VA), and the
# programs may import nothing but Windows' own DLLs: a static build needs no
# runtime beside it. Exits 77 (skipped) when no Windows build is there.
set -uo pipefail
: "${NATIVE_DIR:?NATIVE_DIR must be set}"
objdump=$(command -v x86_64-w64-mingw32-objdump || command -v i686-w64-mingw32-objdump || true)
system_dlls="ADVAPI32.DLL COMCTL32.DLL COMDLG32.DLL GDI32.DLL KERNEL32.DLL MSVCRT.DLL OLE32.DLL SHELL32.DLL USER32.DLL
  VERSION.DLL WS2_32.DLL"
failures=0 checked=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

for bits in 32 64; do
  for program in update.exe mkupdate.exe; do
    exe="$NATIVE_DIR/../win$bits/$program"
    [ -f "$exe" ] || continue
    checked=$((checked + 1))
    headers=$("$objdump" -p "$exe")
    flags="DYNAMIC_BASE NX_COMPAT TERMINAL_SERVICE_AWARE"
    [ "$bits" = 64 ] && flags="$flags HIGH_ENTROPY_VA"
    for flag in $flags; do
      grep -qw "$flag" <<< "$headers" || fail "win$bits/$program: $flag is not set"
    done
    "$objdump" -h "$exe" | grep -qw '\.reloc' || fail "win$bits/$program: no relocations, so no random base"
    imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<< "$headers" | tr 'a-z' 'A-Z' | sort -u)
    for dll in $imports; do
      case " $(echo $system_dlls) " in *" $dll "*) ;; *) fail "win$bits/$program imports $dll, which Windows does not bring" ;; esac
    done
    # The first Windows 95 has no CryptoAPI: libssp's random guard would keep the updater from loading there.
    if [ "$program" = update.exe ] && grep -q 'CryptAcquireContext' <<< "$headers"; then
      fail "win$bits/$program imports the CryptoAPI (libssp's stack guard instead of the program's own)"
    fi
    echo "win$bits/$program: $(grep -m1 DllCharacteristics <<< "$headers" | awk '{print $2}') $(stat -c %s "$exe") bytes, imports: $(echo $imports)"
  done
done
if [ -z "$objdump" ] || [ "$checked" -eq 0 ]; then
  echo "skipped: no Windows build or no mingw objdump (make win32 win64)"
  exit 77
fi
echo "$failures failed"
[ "$failures" -eq 0 ]
