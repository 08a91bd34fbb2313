# A demo project installed in the Wine prefix and an update package for it,
# shared by the end-to-end tests of the updater. Source after lib.sh.

C="$(drive_c)"
UPD="$C/upd"
APP="$C/App"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
PROJECT='HKLM\Software\Mevo\Tarnix.exe\Projects\Demo'
failures=0

# Lines in the file given, with CR LF line ends (code page 1252).
crlf_file() { local f="$1"; shift; printf '%s\r\n' "$@" | iconv -f UTF-8 -t CP1252 > "$f"; }

reg_set_default() { app_reg add "$1" /ve /d "$2" /f >/dev/null 2>&1; }
# Removes a value of a key ("" for the default value).
reg_delete_value() {
  if [ -z "$2" ]; then app_reg delete "$1" /ve /f >/dev/null 2>&1 || true
  else app_reg delete "$1" /v "$2" /f >/dev/null 2>&1 || true; fi
}
# The data of a string value ("" for the default value), or "(none)": reg_get in the
# application's view of the registry, sys_reg_get in the system's own (fonts, product names).
reg_value() {
  local out reg=$1; shift
  # reg exits 1 for a missing value, which is an answer here, not a failure.
  if [ -z "$2" ]; then out=$($reg query "$1" /ve 2>/dev/null) || true; else out=$($reg query "$1" /v "$2" 2>/dev/null) || true; fi
  echo "$out" | tr -d '\r' | awk -F'REG_SZ' 'NF>1 {sub(/^[ \t]+/, "", $2); print $2; found=1} END {if (!found) print "(none)"}'
}
reg_get() { reg_value app_reg "$@"; }
sys_reg() { "$WINE" reg "$@"; }
sys_reg_get() { reg_value sys_reg "$@"; }

install_project() {
  reg_set_default "$PROJECT\\Ver" "$1"
  reg_set_default "$PROJECT\\Dir" 'C:\App\Demo.exe'
  reg_delete_value "$PROJECT" Status
  rm -rf "$APP" && mkdir -p "$APP"
  printf 'old readme' > "$APP/readme.txt"
  printf 'obsolete' > "$APP/old.dll"
  touch -d '2020-01-01 10:00:00' "$APP/readme.txt" "$APP/old.dll"
}

# The package's files under $WORK/pkg; extra "NAME=FILE" entries may follow.
# EXTRA_MAIN and EXTRA_INI add lines to update.ini, EXTRA_TODEL (optional) to todel.txt.
build_package() {
  local out="$1"; shift
  mkdir -p "$WORK/pkg"
  crlf_file "$WORK/pkg/update.ini" "P=Demo" "V=4.2" 'VChk="4.0"<=R\Tarnix.exe\Projects\Demo\Ver\<="4.3"' \
    'VResult=R\Tarnix.exe\Projects\Demo\Ver\=4.2' "${EXTRA_MAIN[@]}" "" "[Demo]" "N=Demo-Anwendung" \
    'TDIR=§R\Tarnix.exe\Projects\Demo\Dir\' 'VResult=R\Tarnix.exe\Projects\Demo\Status=aktualisiert' "${EXTRA_INI[@]}"
  crlf_file "$WORK/pkg/todel.txt" 'Demo\old.dll' ${EXTRA_TODEL[@]+"${EXTRA_TODEL[@]}"} ""
  printf 'program v2' > "$WORK/pkg/prog.exe"
  head -c 5000 /dev/zero | tr '\0' 'd' > "$WORK/pkg/data.txt"
  printf 'new readme' > "$WORK/pkg/readme.txt"
  mkdir -p "$(dirname "$out")"
  python3 "$SOURCE_DIR/tests/e2e/mkarchive.py" --stub "$WIN_DIR/update.exe" -o "$out" \
    "todel.txt=$WORK/pkg/todel.txt" "update.ini=$WORK/pkg/update.ini" \
    'add\Demo\prog.exe='"$WORK/pkg/prog.exe" 'add\Demo\sub\data.txt='"$WORK/pkg/data.txt" \
    'rep\Demo\readme.txt='"$WORK/pkg/readme.txt" 'rep\Demo\notthere.txt='"$WORK/pkg/readme.txt" "$@"
}

# Runs the updater with the switches given, through the test driver, which
# passes on its exit code whole (a Unix parent of a Windows program sees only
# its low 8 bits: 1618 would read 82); RC receives the code.
run_windows_program() {
  RC=0
  (cd "$UPD" && "$WINE" "$WIN_DIR/win32driver.exe" run 3600 "$@" > "$WORK/exitcode.out") || RC=$?
  if [ "$RC" = 0 ]; then RC=$(exit_code_in "$WORK/exitcode.out"); fi
}
# The exit code that the driver's "run" wrote into the file given.
exit_code_in() { tr -d '\r' < "$1" | sed -n 's/^exit //p'; }

# Runs the updater with the switches given; sets RC and LOG (the log file in UTF-8).
run_update() {
  rm -f "$UPD/update.log"
  run_windows_program 'C:\upd\update.exe' "$@"
  "$WINESERVER" -w
  LOG=""
  if [ -f "$UPD/update.log" ]; then LOG=$(iconv -f CP1252 -t UTF-8 < "$UPD/update.log"); fi
}

# Starts the test driver (copied to C:\upd) holding the Windows path $1 open for $2 seconds and
# waits until it holds it; $holder is its process.
hold_file() {
  "$WINE" 'C:\upd\win32driver.exe' hold "$1" "$2" > "$WORK/hold.out" &
  holder=$!
  for _ in $(seq 150); do grep -q holding "$WORK/hold.out" 2>/dev/null && return 0; sleep 0.2; done
  echo "the test driver did not hold $1 within 30 s" >&2
  return 1
}

# run_update with the switches after $1 while the test driver holds the Windows path $1 open;
# the driver and the Wine server are gone afterwards.
run_update_holding() {
  local path="$1"; shift
  cp "$WIN_DIR/win32driver.exe" "$UPD/"
  hold_file "$path" 20
  run_update "$@"
  kill "$holder" 2>/dev/null || true
  "$WINESERVER" -k 2>/dev/null || true
}

# The state of the installed application: names, sizes and contents' checksums.
tree_state() { (cd "$APP" && find . -type f -exec md5sum {} + | sort); }

check() {
  local what="$1"; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
equals() { [ "$1" = "$2" ] || { printf 'expected: %q\n     got: %q\n' "$2" "$1"; return 1; }; }
contains() { case "$1" in *"$2"*) return 0 ;; esac; printf 'missing %q in:\n%s\n' "$2" "$1"; return 1; }

finish() {
  echo "$failures failed"
  [ "$failures" -eq 0 ]
}
