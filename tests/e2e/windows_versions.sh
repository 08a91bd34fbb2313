#!/usr/bin/env bash
# DetectWindowsVersion under each Windows version that Wine can pretend to be.
# Wine's Version setting is made for the probe program alone
# (HKCU\Software\Wine\AppDefaults\winver_probe.exe), so other programs in the
# prefix keep their version; Wine does not change the product names with it,
# so the script writes the ones the detection reads and restores them at the end:
# in every registry view, as the 64-bit build reads the view of 32-bit programs
# (and the system's own where Wine, playing Windows 9x, ignores view flags).
source "$(dirname "$0")/../wine/lib.sh"
work="$(drive_c)/winver"
rm -rf "$work" && mkdir -p "$work"
cp "$WIN_DIR/unit_tests.exe" "$work/winver_probe.exe"

APPKEY='HKCU\Software\Wine\AppDefaults\winver_probe.exe'
NTKEY='HKLM\Software\Microsoft\Windows NT\CurrentVersion'
WINKEY='HKLM\Software\Microsoft\Windows\CurrentVersion'

# The data of a string value in the view given ("" or /reg:32), or "(none)".
reg_get() {
  { "$WINE" reg query "$1" /v "$2" ${3:+"$3"} 2>/dev/null || true; } | tr -d '\r' |
    awk -F'REG_SZ' 'NF>1 {sub(/^[ \t]+/, "", $2); print $2; found=1} END {if (!found) print "(none)"}'
}
reg_put_view() {
  if [ "$3" = "(none)" ]; then
    "$WINE" reg delete "$1" /v "$2" /f ${4:+"$4"} >/dev/null 2>&1 || true
  else
    "$WINE" reg add "$1" /v "$2" /t REG_SZ /d "$3" /f ${4:+"$4"} >/dev/null
  fi
}
VIEWS=("" ${APP_REG_VIEW:+"$APP_REG_VIEW"})
reg_put() { for view in "${VIEWS[@]}"; do reg_put_view "$1" "$2" "$3" "$view"; done; }

declare -A saved
for key in "$NTKEY" "$WINKEY"; do
  for view in "${VIEWS[@]}"; do saved["$key|$view"]=$(reg_get "$key" ProductName "$view"); done
done
restore() {
  for key in "$NTKEY" "$WINKEY"; do
    for view in "${VIEWS[@]}"; do reg_put_view "$key" ProductName "${saved["$key|$view"]}" "$view"; done
  done
  "$WINE" reg delete "$APPKEY" /f >/dev/null 2>&1 || true
  "$WINESERVER" -w
  rm -rf "$work"
}
trap restore EXIT

failures=0
# Wine version, product name under Windows\CurrentVersion, under Windows NT\CurrentVersion, expected code.
while IFS='|' read -r version win9x nt expected; do
  [ -z "$version" ] && continue
  "$WINE" reg add "$APPKEY" /v Version /t REG_SZ /d "$version" /f >/dev/null
  reg_put "$WINKEY" ProductName "$win9x"
  reg_put "$NTKEY" ProductName "$nt"
  "$WINESERVER" -w
  status=0
  out=$(cd "$work" && EXPECTED_WINDOWS_VERSION="$expected" "$WINE" 'C:\winver\winver_probe.exe' --gtest_color=no \
          --gtest_filter='WindowsVersionProbe.*' 2>&1) || status=$?
  if [ $status -eq 0 ] && echo "$out" | grep -q '\[  PASSED  \] 1 test'; then
    echo "ok   $version ($win9x / $nt) -> $expected"
  else
    echo "FAIL $version ($win9x / $nt) -> expected $expected"
    echo "$out" | tr -d '\r' | grep -E 'Failure|Expected|Which is|  Actual' || true
    failures=$((failures + 1))
  fi
done <<'TABLE'
win95|Microsoft Windows 95|(none)|3
win98|Microsoft Windows 98|(none)|4
winme|Microsoft Windows ME|(none)|6
winme|(none)|(none)|4
nt40|(none)|Microsoft Windows NT|8
win2k|(none)|Microsoft Windows 2000|7
winxp|(none)|Microsoft Windows XP|9
winxp|(none)|microsoft windows xp professional|9
win2003|(none)|Microsoft Windows Server 2003|8
TABLE

echo "$failures failure(s)"
[ $failures -eq 0 ]
