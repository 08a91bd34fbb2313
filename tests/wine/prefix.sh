#!/usr/bin/env bash
# Creates (create) or removes (remove) the throwaway Wine prefix of a test run.
source "$(dirname "$0")/lib.sh"
case "${1:-}" in
create)
  "$WINESERVER" -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
  "$WINE" wineboot -i >/dev/null 2>&1
  "$WINESERVER" -w
  test -d "$WINEPREFIX/drive_c/windows" || { echo "prefix not created: $WINEPREFIX"; exit 1; }
  echo "prefix ready: $WINEPREFIX"
  ;;
remove)
  "$WINESERVER" -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
  ;;
*) echo "usage: prefix.sh create|remove"; exit 2 ;;
esac
