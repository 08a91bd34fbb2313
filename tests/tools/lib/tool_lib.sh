# Shared by the mkupdate tests: byte builders, a scratch folder and checks
# that count failures instead of stopping at the first.
set -uo pipefail

: "${NATIVE_DIR:?NATIVE_DIR must be set}"
MKUPDATE="$NATIVE_DIR/mkupdate"
export TZ="${TZ:-Europe/Berlin}"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
FAILURES=0

fail() { echo "FAIL: $*"; FAILURES=$((FAILURES + 1)); }
finish() {
  [ "$FAILURES" -eq 0 ] && { echo "all passed"; exit 0; }
  echo "$FAILURES failure(s)"; exit 1
}

# Bytes from a hex text: "78 9C 03 00" -> the four bytes.
hex() { printf "$(echo "$*" | tr -d ' \n' | sed 's/\(..\)/\\x\1/g')"; }
# A little-endian 32-bit field.
u32() { printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"; }
# An entry record: name, data offset, unpacked size, stored size, MS-DOS stamp.
record() { u32 ${#1}; u32 "$2"; u32 "$3"; u32 "$4"; u32 "$5"; printf '%s' "$1"; }
# A segment: its length field and the zlib stream given in hex.
segment() { local n=$(( $(echo "$*" | tr -d ' ' | wc -c) / 2 )); u32 "$n"; hex "$@"; }

# The zlib streams of the worked example (level 6) and the stream of no data.
ABC="78 9C 4B 4C 4A 06 00 02 4D 01 27"
LINES="78 9C CB C9 CC 4B 35 E4 E5 CA 01 52 46 BC 5C 00 21 57 03 E2"
EMPTY="78 9C 03 00 00 00 00 01"
STAMP_A=$((0x586F73C5))  # 2024-03-15 14:30:10
STAMP_B=$((0x586F73E0))  # 2024-03-15 14:31:00

# Runs mkupdate, keeping stdout in $OUT and stderr in $ERR; sets RC.
run() { "$MKUPDATE" "$@" >"$WORK/out" 2>"$WORK/err"; RC=$?; OUT="$(cat "$WORK/out")"; ERR="$(cat "$WORK/err")"; }
expect_rc() { [ "$RC" -eq "$1" ] || fail "$2: exit code $RC, expected $1 (stderr: $ERR)"; }
expect_in() { case "$2" in *"$1"*) ;; *) fail "$3: '$1' not in: $2" ;; esac; }
# The seconds since 1970 of a local calendar time.
epoch_of() { date -d "$1" +%s; }
mtime() { stat -c %Y "$1"; }
