#!/usr/bin/env bash
# The real message boxes and the four-button confirmation under a virtual X
# display: the EnvDialogs tests of the Windows unit suite, which the plain unit
# run skips for want of a display.
source "$(dirname "$0")/../wine/lib.sh"
start_xvfb
work="$(drive_c)/envdlg"
rm -rf "$work" && mkdir -p "$work"
cp "$WIN_DIR/unit_tests.exe" "$work/"
status=0
out=$(cd "$work" && "$WINE" 'C:\envdlg\unit_tests.exe' --gtest_color=no --gtest_filter='EnvDialogs.*' 2>&1) || status=$?
"$WINESERVER" -w
rm -rf "$work"
echo "$out" | tr -d '\r'
# Skipped tests would mean that no window could be created: that is a failure here.
if echo "$out" | grep -q '\[  SKIPPED \]'; then echo "dialog tests were skipped"; exit 1; fi
echo "$out" | grep -q '\[  PASSED  \] 4 tests' || status=1
exit $status
