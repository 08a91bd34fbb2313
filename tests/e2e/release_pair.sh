#!/usr/bin/env bash
# Two consecutive releases of a real 32-bit Windows program of 9.4 MB (esbuild
# 0.19.11 and 0.19.12 for win32-ia32, fetched from the npm registry at run
# time and kept nowhere): the program's patch is at most 0.8 times bsdiff's
# (where bsdiff is installed), the package at most a fifth of the whole-file
# one, and under Wine the installed old release becomes the new one byte for
# byte. Skipped where the registry cannot be reached.
source "$(dirname "$0")/../wine/lib.sh"
source "$SOURCE_DIR/tests/wine/update_fixture.sh"
MKUPDATE="$NATIVE_DIR/mkupdate"
OLD="$WORK/old" NEW="$WORK/new"

fetch() {  # fetch VERSION DIR
  mkdir -p "$WORK/npm-$1" "$2"
  (cd "$WORK/npm-$1" && timeout 120 npm pack --silent "@esbuild/win32-ia32@$1" >/dev/null 2>&1 &&
    tar xzf ./*.tgz package/esbuild.exe) || return 1
  mv "$WORK/npm-$1/package/esbuild.exe" "$2/esbuild.exe"
}
if ! command -v npm >/dev/null || ! fetch 0.19.11 "$OLD" || ! fetch 0.19.12 "$NEW"; then
  echo "skipped: the release pair cannot be fetched from the npm registry here"
  exit 77
fi
touch -d '2024-01-10 10:00:00' "$OLD/esbuild.exe"
touch -d '2024-01-20 10:00:00' "$NEW/esbuild.exe"

for kind in whole patched; do
  "$MKUPDATE" diff --section Demo --from 4.1 --to 4.2 $([ $kind = patched ] && echo --patch) "$OLD" "$NEW" \
    -o "$WORK/$kind" > "$WORK/diff.out" 2>&1
  mkdir -p "$UPD"
  "$MKUPDATE" build --stub "$WIN_DIR/update.exe" -o "$UPD/$kind.exe" "$WORK/$kind" >/dev/null
done
entry="$WORK/patched/pat/Demo/esbuild.exe"
check "the program goes as a patch that predicts its references, in streams (PAT4)" equals "$(head -c 4 "$entry")" PAT4
ours=$(stat -c %s "$entry")
if command -v bsdiff >/dev/null; then
  bsdiff "$OLD/esbuild.exe" "$NEW/esbuild.exe" "$WORK/bsdiff.out"
  theirs=$(stat -c %s "$WORK/bsdiff.out")
  check "patch entry ($ours bytes) is at most 0.8 times bsdiff's ($theirs)" test $((ours * 10)) -le $((theirs * 8))
fi
whole=$(stat -c %s "$UPD/whole.exe") patched=$(stat -c %s "$UPD/patched.exe")
check "patch package ($patched bytes) is at most a fifth of the whole one ($whole)" test $((patched * 5)) -le "$whole"

install_project 4.1
rm -rf "$APP" && cp -a "$OLD" "$APP"
cp "$UPD/patched.exe" "$UPD/update.exe"
run_update /S /LOG='C:\upd\update.log'
check "patch package exits 0" equals "$RC" 0
check "installed program is the new release byte for byte" cmp "$APP/esbuild.exe" "$NEW/esbuild.exe"
finish
