# Shared by the Wine test scripts: the Wine commands and a prefix per test run.
set -euo pipefail

WINE=${WINE:-$(command -v wine || command -v wine-stable || echo /usr/lib/wine/wine)}
WINEBOOT=${WINEBOOT:-$(command -v wineboot || command -v wineboot-stable)}
WINESERVER=${WINESERVER:-$(command -v wineserver || command -v wineserver-stable || echo /usr/lib/wine/wineserver)}
export WINEARCH=win32 WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
: "${WINEPREFIX:?WINEPREFIX must be set}"
export WINEPREFIX

# The Windows path of a host path inside the prefix's drive C:.
drive_c() { echo "$WINEPREFIX/drive_c"; }

# Runs a Windows program and waits for it; its exit code is returned.
wine_run() { "$WINE" "$@"; }

# Sets HKCU\Software\Wine\Version (win98, nt40, win2k, winxp, win7).
wine_set_version() {
  "$WINE" reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d "$1" /f >/dev/null
  "$WINESERVER" -w
}
