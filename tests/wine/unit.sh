#!/usr/bin/env bash
# Runs the unit-test suite of the Windows build under Wine.
source "$(dirname "$0")/lib.sh"
exe="$WIN_DIR/unit_tests.exe"
test -f "$exe" || { echo "missing $exe: build the Windows side first (make win32)"; exit 1; }
work="$(drive_c)/unit"
rm -rf "$work" && mkdir -p "$work"
cp "$exe" "$work/"
# The version-record tests read the updater's own resource.
cp "$WIN_DIR/update.exe" "$work/" 2>/dev/null || true
cd "$work"
status=0
wine_run 'C:\unit\unit_tests.exe' --gtest_color=no "$@" || status=$?
"$WINESERVER" -w
rm -rf "$work"
exit $status
