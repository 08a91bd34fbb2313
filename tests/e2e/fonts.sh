#!/usr/bin/env bash
# Fonts installed by a silent update on each Windows family that Wine can
# pretend to be: the file in the fonts folder, the resource file on the 9x
# family, the registry value in the family's branch, the Win.Ini entry on NT 4.
source "$(dirname "$0")/../wine/lib.sh"
source "$SOURCE_DIR/tests/wine/update_fixture.sh"
FONT=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
FONTS="$C/windows/Fonts"
WIN_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion'
NT_KEY='HKLM\Software\Microsoft\Windows NT\CurrentVersion'
VALUE='DejaVu Test (TrueType)'
EXTRA_MAIN=('FONT=DejaVuSans.ttf,DejaVu Test') EXTRA_INI=()

# Where the updater reads it: the view of 32-bit programs (app_reg).
set_product() { app_reg add "$1" /v ProductName /d "$2" /f >/dev/null 2>&1; }
reset_font() {
  rm -f "$FONTS/DejaVuSans.ttf" "$FONTS"/DejaVuSans0.ttf "$FONTS/DejaVu Test.FOT" "$FONTS/DejaVu Test Standard.FOT"
  "$WINE" reg delete "$WIN_KEY\\Fonts" /v "$VALUE" /f >/dev/null 2>&1 || true
  "$WINE" reg delete "$NT_KEY\\Fonts" /v "$VALUE" /f >/dev/null 2>&1 || true
  sed -i '/DejaVu Test/d' "$C/windows/win.ini" 2>/dev/null || true
}

for family in "win98|$WIN_KEY|Microsoft Windows 98|Windows" "nt40|$NT_KEY|Microsoft Windows NT Workstation|Windows NT" \
              "win2k|$NT_KEY|Microsoft Windows 2000|Windows NT" "winxp|$NT_KEY|Microsoft Windows XP|Windows NT"; do
  IFS='|' read -r version productKey product branch <<< "$family"
  wine_set_version "$version"
  set_product "$productKey" "$product"
  reset_font
  install_project 4.1
  build_package "$UPD/update.exe" "DejaVuSans.ttf=$FONT" 'sub\Nested.TTF='"$FONT"
  run_update /S /V /LOG='C:\upd\update.log'
  check "$version: run exits 0" equals "$RC" 0
  check "$version: font file installed" cmp -s "$FONT" "$FONTS/DejaVuSans.ttf"
  check "$version: no font error logged" eval '! grep -q "konnte nicht" <<< "$LOG"'
  # The extended silent log of a successful run is German and tells nobody to click.
  check "$version: no English line, nothing to click" eval '! grep -q -e "not deleted" -e "removeFont" -e "Klicken Sie" <<< "$LOG"'
  check "$version: nested TTF not installed" test ! -e "$FONTS/Nested.TTF"
  if [ "$branch" = "Windows" ]; then
    check "$version: resource file created" test -e "$FONTS/DejaVu Test.FOT"
    check "$version: registered in the Windows branch" equals "$(sys_reg_get "$WIN_KEY\\Fonts" "$VALUE")" "DejaVuSans.ttf"
  else
    check "$version: registered in the Windows NT branch" equals "$(sys_reg_get "$NT_KEY\\Fonts" "$VALUE")" "DejaVuSans.ttf"
  fi
  if [ "$version" = nt40 ]; then
    check "$version: Win.Ini entry" grep -qa 'DejaVu Test (TrueType)=C:\\windows\\Fonts\\DejaVuSans.ttf' "$C/windows/win.ini"
  else
    check "$version: no Win.Ini entry" eval '! grep -qa "DejaVu Test" "$C/windows/win.ini" 2>/dev/null'
  fi
  check "$version: temporary copy removed" eval '! find "$C" -path "*emp*" -name DejaVuSans.ttf | grep -q .'

  install_project 4.1
  run_update /S /V /LOG='C:\upd\update.log'
  check "$version: second run leaves the font" contains "$LOG" 'DejaVuSans.ttf vom '
  check "$version: second run finds it present" contains "$LOG" 'ist vorhanden.'
done
wine_set_version win7
finish
