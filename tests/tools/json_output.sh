#!/usr/bin/env bash
# list --json and check --json: each is one JSON document that python's parser
# takes, and it says what the text form says (names with umlauts and quotes,
# sizes, segments, dates; findings with severity, code and place); a package
# that cannot be read at all gives a document with the error.
source "$(dirname "$0")/lib/tool_lib.sh"
cd "$WORK"

mkdir -p pkg/add/Demo
printf 'P=Demo\r\nVCHK=4.9<=R\\x\\Ver\\<=4.10\r\nBogus=1\r\n[Demo]\r\nTDIR=C:\\App\r\n' > pkg/update.ini
printf 'quote' > 'pkg/add/Demo/Grüße & [1].txt'
head -c $((1048576 + 10)) /dev/urandom > pkg/add/Demo/big.bin
"$MKUPDATE" build --force --date "2024-03-15 14:30:10" -o p.vpa pkg >/dev/null 2>&1 || fail "build"

run list p.vpa; text_list="$OUT"
run list p.vpa --json; expect_rc 0 "list FILE --json"
python3 -c '
import json, sys
doc = json.load(sys.stdin)
text = [line.split("\t") for line in sys.argv[1].split("\n")]
got = [[e["name"], str(e["size"]), str(e["stored"]), str(e["segments"]), e["date"]] for e in doc["entries"]]
assert doc["file"] == "p.vpa", doc["file"]
assert got == text, (got, text)
assert "add\\Demo\\Grüße & [1].txt" in [e["name"] for e in doc["entries"]]
assert [e["segments"] for e in doc["entries"] if e["name"].endswith("big.bin")] == [2]
assert "check_cmd" not in doc and "check_wait" not in doc and "rollback" not in doc, doc
' "$text_list" <<< "$OUT" || fail "list --json does not say what list says (or names a check it lacks)"

# A main ROLLBACK=1 and the seconds the updater gives the check (held to 3600).
mkdir -p run/add/Demo; printf x > run/add/Demo/a.txt
printf 'P=x\r\nCHECKCMD=c.exe\r\nCHECKWAIT=5000\r\nROLLBACK=1\r\n[Demo]\r\nTDIR=C:\\A\r\n' > run/update.ini
"$MKUPDATE" build -o r.vpa run >/dev/null 2>&1 || fail "build of a package with a check"
run list --json r.vpa
python3 -c 'import json,sys; d=json.load(sys.stdin); sys.exit(not (d["check_wait"], d["rollback"]) == (3600, True))' <<< "$OUT" ||
  fail "list --json of a package with a check: $OUT"

run check pkg --json; expect_rc 1 "check DIR --json of a package with an error"
python3 -c '
import json, sys
doc = json.load(sys.stdin)
by_code = {f["code"]: f for f in doc["findings"]}
assert doc["errors"] == 1 and doc["warnings"] == len(doc["findings"]) - 1, doc
assert by_code["vchk-reversed"]["severity"] == "error" and by_code["vchk-reversed"]["where"] == "update.ini:2"
assert "sorts before earliest" in by_code["vchk-reversed"]["text"]
# The tool speaks English; the updater'"'"'s own German message stands apart.
assert by_code["vchk-reversed"]["updater_text"] == "früheste Version muss kleiner als späteste sein!", doc
assert all("updater_text" not in f for f in doc["findings"] if f["code"] != "vchk-reversed"), doc
assert by_code["unknown-key"]["severity"] == "warning" and "BOGUS" in by_code["unknown-key"]["text"]
assert all(f["code"] for f in doc["findings"]), doc
' <<< "$OUT" || fail "check --json findings"

mkdir -p bad; printf 'P=x\r\n' > bad/update.ini; printf x > bad/ā.txt
run check --json bad; expect_rc 1 "check --json of a file the builder refuses"
python3 -c '
import json, sys
doc = json.load(sys.stdin)
f = doc["findings"][0]
assert (f["severity"], f["code"]) == ("error", "unbuildable-file") and f["text"].startswith("ā.txt: "), doc
' <<< "$OUT" || fail "check --json of a file the builder refuses"
# A package that cannot be read at all: the same exit code, and a document that names the error.
printf 'no archive here' > garbage.exe
for call in "list|file|garbage.exe" "check|target|garbage.exe" "list|file|missing.exe" "check|target|missing.exe"; do
  IFS='|' read -r command key file <<< "$call"
  run "$command" --json "$file"; expect_rc 1 "$command --json $file"
  python3 -c '
import json, sys
doc = json.load(sys.stdin)
assert doc[sys.argv[1]] == sys.argv[2] and doc["error"].startswith(sys.argv[2] + ": "), doc
assert doc["error"].isascii() and doc.get("updater_text", "x"), doc
' "$key" "$file" <<< "$OUT" || fail "$command --json $file: no document with the error: $OUT"
done
finish
