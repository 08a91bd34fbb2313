#!/usr/bin/env bash
# update_bench --way-back-only --quick: the 1,500-file part run plainly, with
# ROLLBACK=1 in the part and in the main section, with a check, and /UNDO of
# the checked run; the bench stops when a run did not take its way (the check
# started, the record kept) or /UNDO did not put the older files back. The
# results file has every row, and each ratio is of its two rows.
source "$(dirname "$0")/lib/tool_lib.sh"

"$NATIVE_DIR/update_bench" --results "$WORK/r" --way-back-only --quick --repetitions 1 >"$WORK/log" 2>&1 ||
  { fail "update_bench --way-back-only: $(tail -3 "$WORK/log")"; finish; }
python3 - "$WORK/r/results.json" <<'PY' || fail "the way back's rows in results.json"
import json, sys
f = {x["key"]: x for x in json.load(open(sys.argv[1]))["figures"]}
k = "way_back.rollback_1500."
for run in ("plain", "part_rollback", "main_rollback", "check", "undo"):
    assert f[k + run]["value"] > 0 and f[k + run]["unit"] == "s", run
for ratio, a, b in (("check_ratio", "check", "part_rollback"), ("check_plain_ratio", "check", "plain"),
                    ("undo_ratio", "undo", "check")):
    assert abs(f[k + ratio]["value"] - f[k + a]["value"] / f[k + b]["value"]) < 1e-3, ratio
assert f[k + "check_ratio"]["met"] == (f[k + "check_ratio"]["value"] <= 1.3)
assert not [key for key in f if key.startswith("way_back.1gib")], "--quick runs the 1 GiB entry"
PY
finish
