#!/usr/bin/env bash
# DLL planting: update.exe (both builds) is usually started from a downloads folder, where
# anyone may have left a DLL of a well-known name. The loader resolves static
# imports before the program runs, so update.exe may import only known DLLs,
# which Windows always takes from the system folder; everything else it loads
# itself from there (LoadSystemLibrary). This test reads the import table of
# the built update.exe, and checks that the program restricts the DLL search
# path at start-up. Exits 77 (skipped) when the Windows side is not built.
set -uo pipefail
: "${NATIVE_DIR:?NATIVE_DIR must be set}"
objdump=$(command -v x86_64-w64-mingw32-objdump || command -v i686-w64-mingw32-objdump || true)
known="ADVAPI32.DLL GDI32.DLL KERNEL32.DLL MSVCRT.DLL OLE32.DLL SHELL32.DLL USER32.DLL"
failures=0 checked=0
for exe in "$NATIVE_DIR/../win32/update.exe" "$NATIVE_DIR/../win64/update.exe"; do
  [ -f "$exe" ] && [ -n "$objdump" ] || continue
  checked=$((checked + 1))
  imports=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'a-z' 'A-Z' | sort -u)
  echo "$exe imports: $(echo $imports)"
  [ -n "$imports" ] || { echo "FAIL no import table found"; failures=$((failures + 1)); }
  for dll in $imports; do
    case " $known " in
    *" $dll "*) ;;
    *) echo "FAIL $dll is imported statically: load it with LoadSystemLibrary"; failures=$((failures + 1)) ;;
    esac
  done
  # The names that RestrictDllSearchPath looks up at run time.
  for name in SetDefaultDllDirectories SetDllDirectoryA FindActCtxSectionStringA; do
    grep -q "$name" "$exe" || { echo "FAIL $exe never looks up $name"; failures=$((failures + 1)); }
  done
done
if [ "$checked" -eq 0 ]; then
  echo "skipped: no update.exe or no mingw objdump (build the Windows side: make win32 win64)"
  exit 77
fi
echo "$failures failed"
[ "$failures" -eq 0 ]
