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

# Starts a virtual X display for GUI tests and sets DISPLAY; it ends with the script.
start_xvfb() {
  local n
  for n in $(seq 91 140); do
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    trap 'kill $XVFB_PID 2>/dev/null || true; rm -rf "${WORK:-/nonexistent}"' EXIT
    return 0
  done
  echo "no free X display" >&2
  return 1
}

# A PNG of the whole virtual screen.
screenshot() { mkdir -p "$(dirname "$1")"; import -window root "$1"; }
