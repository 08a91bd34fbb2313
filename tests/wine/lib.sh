# Shared by the Wine test scripts: the Wine commands and a prefix per test run.
# WIN_BITS (32 or 64) selects the build under test, WIN_DIR its folder: the
# 32-bit build runs in a 32-bit prefix under Wine's 32-bit loader, the 64-bit
# build in a 64-bit prefix under the 64-bit loader, called directly because
# the `wine` wrapper takes the 32-bit loader whenever it is installed.
set -eEuo pipefail
# A command that stops the script says so: which line, which command. Failures that stop
# nothing stay quiet: those in a command substitution, often the answer sought (grep -c, an
# expected exit code), whose caller fails in turn if they matter, and all in a script that
# has turned set -e off.
trap 'stop_rc=$?; [ "$BASH_SUBSHELL" != 0 ] || [[ $- != *e* ]] || echo "stopped: ${BASH_SOURCE[0]##*/}:$LINENO: $BASH_COMMAND (exit $stop_rc)" >&2' ERR

WIN_BITS=${WIN_BITS:-32}
: "${WINEPREFIX:?WINEPREFIX must be set}"
export WINEPREFIX WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

if [ "$WIN_BITS" = 64 ]; then
  WINE=${WINE64:-/usr/lib/wine/wine64}
  WINESERVER=${WINESERVER64:-/usr/lib/wine/wineserver64}
  export WINEARCH=win64 WINELOADER="$WINE" WINESERVER
  # The host application and the updater keep their keys where Windows puts
  # those of 32-bit programs; the tests write and read them there too.
  APP_REG_VIEW=/reg:32
else
  # Skipped, not passed, where Wine's 32-bit loader cannot run.
  if [ -z "${UPDATE_WINE32:-}" ]; then eval "$(bash "$(dirname "${BASH_SOURCE[0]}")/probe.sh" 2>/dev/null)"; fi
  if [ "$UPDATE_WINE32" != 1 ]; then
    echo "skipped: the 32-bit build is not tested here (see the line of tests/wine/probe.sh)"
    exit 77
  fi
  WINE=${WINE:-$(command -v wine || command -v wine-stable || echo /usr/lib/wine/wine)}
  WINESERVER=${WINESERVER:-$(command -v wineserver || command -v wineserver-stable || echo /usr/lib/wine/wineserver)}
  export WINEARCH=win32
  APP_REG_VIEW=
fi
: "${WIN_DIR:?WIN_DIR must be set to the Windows build folder}"

# The Windows path of a host path inside the prefix's drive C:.
drive_c() { echo "$WINEPREFIX/drive_c"; }

# Runs a Windows program and waits for it; its exit code is returned.
wine_run() { "$WINE" "$@"; }

# reg.exe on the keys of the host application and the updater (HKLM\Software\Mevo ...),
# in the registry view that 32-bit programs see. While Wine plays a Windows of
# the 9x family it ignores a program's access mask, view flags included, so a
# 64-bit program sees the system's own view there.
app_reg() {
  local view=$APP_REG_VIEW
  case "${WINE_VERSION:-}" in win95 | win98 | winme) view= ;; esac
  "$WINE" reg "$@" ${view:+"$view"}
}

# Sets HKCU\Software\Wine\Version (win98, nt40, win2k, winxp, win7).
wine_set_version() {
  WINE_VERSION=$1
  "$WINE" reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d "$1" /f >/dev/null
  "$WINESERVER" -w
}

# Starts a virtual X display for GUI tests and sets DISPLAY; it ends with the script.
# Xvfb picks a free display number itself (-displayfd), so tests that run at the
# same time never share or take each other's display.
start_xvfb() {
  local numberfile n=""
  # A server that an earlier test left running would lend its display-less
  # desktop to the programs of this one.
  "$WINESERVER" -k 2>/dev/null || true
  numberfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$numberfile" >/dev/null 2>&1 &
  XVFB_PID=$!
  trap 'kill $XVFB_PID 2>/dev/null || true; rm -rf "${WORK:-/nonexistent}"' EXIT
  for _ in $(seq 100); do
    n=$(head -n1 "$numberfile" 2>/dev/null || true)
    [ -n "$n" ] && break
    sleep 0.1
  done
  rm -f "$numberfile"
  [ -n "$n" ] || { echo "Xvfb did not start" >&2; return 1; }
  export DISPLAY=":$n"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "no X display at $DISPLAY" >&2
  return 1
}

# A PNG of the whole virtual screen.
screenshot() { mkdir -p "$(dirname "$1")"; import -window root "$1"; }
