#!/usr/bin/env bash
# Decides once whether the 32-bit Windows build can be tested here: Wine's
# 32-bit loader must start (kernels without IA-32 emulation refuse it with
# "Exec format error"). Prints UPDATE_WINE32=1 or UPDATE_WINE32=0 on standard
# output and one line for people on standard error. UPDATE_WINE32=0 in the
# environment forces the 64-bit-only path.
set -uo pipefail
loader32=${WINE32_LOADER:-/usr/lib/wine/wine}
if [ "${UPDATE_WINE32:-}" = 0 ]; then
  verdict=0 reason="UPDATE_WINE32=0 asks for the 64-bit build only"
elif [ ! -x "$loader32" ]; then
  verdict=0 reason="Wine's 32-bit loader is not installed ($loader32)"
# Started from a shell, not by timeout itself: timeout hands a file that the
# kernel refuses to /bin/sh as a script, whose syntax error would hide the
# loader's own error; the shell reports the kernel's ("Exec format error").
elif ! err=$(timeout 10 bash -c '"$1" --version' probe "$loader32" 2>&1 >/dev/null); then
  verdict=0 reason="this machine runs no 32-bit programs${err:+: ${err##*: }}"
else
  verdict=1 reason="this machine runs 32-bit programs"
fi
if [ "$verdict" = 1 ]; then
  echo "Windows tests: the 64-bit build under 64-bit Wine and the 32-bit build under 32-bit Wine ($reason)" >&2
else
  echo "Windows tests: the 64-bit build under 64-bit Wine only; the 32-bit ones are skipped ($reason)" >&2
fi
echo "UPDATE_WINE32=$verdict"
