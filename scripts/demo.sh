#!/usr/bin/env bash
# The demo: builds the update package of demo/package, installs "Kasse 2.0"
# into a throwaway Wine prefix, applies the update silently and prints the
# log, then applies it again: the second run ends with 5 (nothing to do).
# GUI=1 opens the updater's window instead of the silent runs.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${BUILD:-build}"
case "$BUILD" in /*) ;; *) BUILD="$ROOT/$BUILD" ;; esac
MKUPDATE="$BUILD/native/mkupdate"
export WINEPREFIX="$BUILD/demo/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
PROJECT='HKLM\Software\Mevo\Tarnix.exe\Projects\Kasse'

say() { printf '\n== %s\n' "$*"; }

# The 32-bit updater where this machine runs 32-bit programs, otherwise the
# 64-bit one under 64-bit Wine, whose loader is called directly.
[ "${UPDATE_WINE32:-}" = 0 ] && FORCED64=1
eval "$(bash "$ROOT/tests/wine/probe.sh" 2>/dev/null)"
if [ "$UPDATE_WINE32" = 1 ]; then
  STUB="$BUILD/win32/update.exe"
  export WINEARCH=win32
  WINE=$(command -v wine || command -v wine-stable)
  WINESERVER=$(command -v wineserver || command -v wineserver-stable)
  REG_VIEW=()
  say "Das 32-Bit-Update (build/win32/update.exe) unter 32-Bit-Wine"
else
  STUB="$BUILD/win64/update.exe"
  export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
  WINE=/usr/lib/wine/wine64
  WINESERVER=/usr/lib/wine/wineserver64
  export WINESERVER
  # The host application is a 32-bit program: its keys lie in the 32-bit view.
  REG_VIEW=(/reg:32)
  if [ "${UPDATE_WINE32:-}" = 0 ] && [ -n "${FORCED64:-}" ]; then why="UPDATE_WINE32=0"; else why="dieser Rechner führt keine 32-Bit-Programme aus"; fi
  say "Das 64-Bit-Update (build/win64/update.exe) unter 64-Bit-Wine ($why)"
fi

say "Baue das Update-Paket aus demo/package"
stage="$BUILD/demo/package"
rm -rf "$stage" && mkdir -p "$BUILD/demo" && cp -r "$ROOT/demo/package" "$stage"
cp /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf "$stage/"
"$MKUPDATE" build --stub "$STUB" --date "2026-12-01 09:00:00" -o "$BUILD/demo/kasse-update.exe" "$stage"
"$MKUPDATE" check "$BUILD/demo/kasse-update.exe" || true
"$MKUPDATE" list "$BUILD/demo/kasse-update.exe"

say "Neuer Wine-Präfix mit installierter Kasse 2.0"
"$WINESERVER" -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
"$WINE" wineboot -i >/dev/null 2>&1
"$WINESERVER" -w
C="$WINEPREFIX/drive_c"
mkdir -p "$C/Kasse/alt" "$C/Update"
printf 'Kasse 2.0\r\n' > "$C/Kasse/kasse.exe"
printf 'Kasse 2.0\r\n' > "$C/Kasse/liesmich.txt"
printf 'alt' > "$C/Kasse/alt/bericht.dll"
touch -d '2025-06-01 08:00:00' "$C/Kasse/kasse.exe" "$C/Kasse/liesmich.txt" "$C/Kasse/alt/bericht.dll"
"$WINE" reg add "$PROJECT\\Ver" /ve /d 2.0.3 /f "${REG_VIEW[@]}" >/dev/null
"$WINE" reg add "$PROJECT\\Dir" /ve /d 'C:\Kasse\kasse.exe' /f "${REG_VIEW[@]}" >/dev/null
cp "$BUILD/demo/kasse-update.exe" "$C/Update/"

if [ "${GUI:-}" = 1 ]; then
  say "Das Fenster des Updates (Start, dann Fertigstellen)"
  (cd "$C/Update" && "$WINE" 'C:\Update\kasse-update.exe')
  "$WINESERVER" -w
  exit 0
fi

run() {
  local rc=0
  (cd "$C/Update" && "$WINE" 'C:\Update\kasse-update.exe' /S /V '/LOG=C:\Update\update.log') || rc=$?
  "$WINESERVER" -w
  iconv -f CP1252 -t UTF-8 < "$C/Update/update.log" | tr -d '\r'
  echo "(Rückgabewert $rc)"
  return $rc
}

say "Erster Lauf: das Update wird eingespielt"
run
say "Ergebnis"
(cd "$C/Kasse" && find . -type f | sort)
echo "Version in der Registry: $("$WINE" reg query "$PROJECT\\Ver" /ve "${REG_VIEW[@]}" | tr -d '\r' | awk -F'REG_SZ' 'NF>1 {gsub(/^[ \t]+/, "", $2); print $2}')"
say "Zweiter Lauf: nichts zu tun, die installierte Version liegt jenseits des Update-Bereichs"
rc=0
run || rc=$?
[ "$rc" = 5 ] || { echo "Der zweite Lauf endet mit $rc statt 5." >&2; exit 1; }
