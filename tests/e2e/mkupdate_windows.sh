#!/usr/bin/env bash
# mkupdate.exe under Wine on Windows paths (drive letters, backslashes, an
# umlaut folder): build, diff, check, list, test and extract agree with the
# native tool, the package is byte for byte the native one, and paths too
# long for Windows are refused with a message.
source "$(dirname "$0")/../wine/lib.sh"
source "$SOURCE_DIR/tests/wine/update_fixture.sh"
MKUPDATE="$NATIVE_DIR/mkupdate"
BASE="$C/Büro"   # C:\Büro
STAMP='2024-03-15 14:30:10'

# Runs mkupdate.exe; sets RC, OUT (CR LF made LF) and ERR.
win() {
  RC=0
  "$WINE" "$WIN_DIR/mkupdate.exe" "$@" > "$WORK/win.out" 2> "$WORK/win.err" || RC=$?
  OUT=$(tr -d '\r' < "$WORK/win.out"); ERR=$(tr -d '\r' < "$WORK/win.err")
}
tree_full() { (cd "$1" && find . -type f -printf '%P\n' | sort | while read -r f; do
  echo "$f $(md5sum < "$f" | cut -c1-32) $(stat -c %Y "$f")"; done); }
put() { mkdir -p "$(dirname "$1")"; printf '%s' "$2" > "$1"; }
# The control file and the deletion list that diff writes bear the time they
# were written, which differs between two runs: their stamps are left out.
written_now() { sed -E 's/^((update\.ini|todel\.txt) [0-9a-f]{32}) [0-9]+$/\1/'; }

rm -rf "$BASE" && mkdir -p "$BASE/out"
put "$BASE/pkg/update.ini" $'P=Demo\r\n[Demo]\r\nTDIR=C:\\App\r\n'
put "$BASE/pkg/add/Demo/Grüße/März.txt" 'Umsätze'
head -c 2100000 /dev/urandom > "$BASE/pkg/add/Demo/big.bin"

# build: the package is the native one, byte for byte
mkdir -p "$UPD" && cp "$WIN_DIR/update.exe" "$UPD/update.exe"
win build --stub 'C:\upd\update.exe' --date "$STAMP" --threads 2 -o 'C:\Büro\out\win.exe' 'C:\Büro\pkg'
check "build exits 0" equals "$RC" 0
"$MKUPDATE" build --stub "$WIN_DIR/update.exe" --date "$STAMP" -o "$WORK/native.exe" "$BASE/pkg" >/dev/null
check "built on Windows = built natively" cmp "$BASE/out/win.exe" "$WORK/native.exe"

# list, test, extract, check on Windows paths
win list 'C:\Büro\out\win.exe'
check "list exits 0" equals "$RC" 0
check "list as natively" equals "$OUT" "$("$MKUPDATE" list "$WORK/native.exe")"
win list --json 'C:\Büro\out\win.exe'
check "list --json parses" python3 -c 'import json,sys; d=json.loads(sys.argv[1]); assert "add\\Demo\\Grüße\\März.txt" in [e["name"] for e in d["entries"]]' "$OUT"
win test 'C:\Büro\out\win.exe'
check "test exits 0" equals "$RC" 0
check "test counts" contains "$OUT" "4 entries, 0 damaged"
win extract 'C:\Büro\out\win.exe' 'C:\Büro\ex'
check "extract exits 0" equals "$RC" 0
check "extracted umlaut names and contents" diff -r -x todel.txt "$BASE/pkg" "$BASE/ex"
check "extracted stamp" equals "$(date -r "$BASE/ex/add/Demo/Grüße/März.txt" '+%Y-%m-%d %H:%M:%S')" "$STAMP"
win check 'C:\Büro\pkg'
check "check of a sound folder" equals "$RC|$OUT|$ERR" "0|0 error(s), 0 warning(s)|"
put "$BASE/bad/update.ini" $'P=x\r\nVCHK=4.9<=R\\x\\Ver\\<=4.10\r\n[Demo]\r\nTDIR=C:\\A\r\n'
win check --json 'C:\Büro\bad'
check "check finds the error" equals "$RC" 1
check "check --json parses" python3 -c 'import json,sys; d=json.loads(sys.argv[1]); assert d["errors"] == 1 and d["findings"][0]["code"] == "vchk-reversed"' "$OUT"

# diff: the same package folder as the native tool's
put "$BASE/rel/old/Demo.exe" 'v1'; put "$BASE/rel/old/Öl/alt.txt" 'x'; put "$BASE/rel/old/same.txt" 's'
put "$BASE/rel/new/Demo.exe" 'v2'; put "$BASE/rel/new/Öl/neu.txt" 'y'; put "$BASE/rel/new/same.txt" 's'
touch -d '2024-01-01 10:00:00' "$BASE"/rel/old/*.* "$BASE"/rel/old/Öl/* "$BASE/rel/new/same.txt"
touch -d '2024-02-01 10:00:00' "$BASE/rel/new/Demo.exe" "$BASE/rel/new/Öl/neu.txt"
win diff --section Demo --from 4.1 --to 4.2 'C:\Büro\rel\old' 'C:\Büro\rel\new' -o 'C:\Büro\out\diff'
check "diff exits 0" equals "$RC" 0
"$MKUPDATE" diff --section Demo --from 4.1 --to 4.2 "$BASE/rel/old" "$BASE/rel/new" -o "$WORK/diff" >/dev/null 2>&1
check "diff writes what the native tool writes" equals "$(tree_full "$BASE/out/diff" | written_now)" "$(tree_full "$WORK/diff" | written_now)"
touch -d '2023-01-01 10:00:00' "$BASE/rel/new/Demo.exe"
win diff --section Demo 'C:\Büro\rel\old' 'C:\Büro\rel\new' -o 'C:\Büro\out\stale'
check "diff refuses a stale stamp" equals "$RC" 1
check "diff names the stale file" contains "$ERR" "Demo.exe: changed, but its stamp is not later"
win diff --patch --section Demo 'C:\Büro\rel\old' 'C:\Büro\rel\new' -o 'C:\Büro\out\patch'
check "diff --patch refused: no patches on Windows" equals "$RC|$(test -e "$BASE/out/patch" && echo written)" "2|"
check "diff --patch says why" contains "$ERR" "this build of mkupdate makes no patches"

# paths Windows cannot open, and bad usage
long='C:\Büro\out'; for _ in $(seq 25); do long+='\abcdefghij'; done
win build --date "$STAMP" -o "$long\\p.exe" 'C:\Büro\pkg'
check "long output path refused" equals "$RC" 1
check "long output path explained" contains "$ERR" "Windows opens at most 259"
win extract 'C:\Büro\out\win.exe' "$long"
check "extract into a long path exits 1" equals "$RC" 1
check "extract into a long path explained" contains "$ERR" "Windows opens at most 259"
win frobnicate
check "bad usage exits 2" equals "$RC" 2
finish
