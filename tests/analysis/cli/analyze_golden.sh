#!/usr/bin/env bash
# orvane-cli generate + analyze: key lines of the text and JSON reports of a damaged
# stream, and the exit statuses of the failure cases. Arguments: the orvane-cli binary.
set -euo pipefail
cli=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$cli" generate "$work/sample.ts" --programs 3 --rate 2000000 --duration 2 --leading-garbage 100 \
    --drop-every 40 --cc-error-every 150 --garbage-every 2000 --garbage-bytes 10 >/dev/null
(cd "$work" && "$cli" analyze sample.ts --separator .) >"$work/sample.txt"
for line in "    497.934 bytes" "    Before first packet: 100" "    Packets: 2.648" "    Bit rate: 1.990.832 bps" \
    "  Program 3 (0x0003): Service 3" "      PID 0x010A (266): AC-3 audio (type 0x06), eng" "    Sync losses: 1" \
    "    First TDT/TOT: 2024-01-01 12:00:00 UTC" "  PID 0x0101 (257): H.264 video, program 1"; do
    grep -qxF -- "$line" "$work/sample.txt" || { echo "missing line: $line"; exit 1; }
done
[ "$(grep -c 'Continuity errors: [1-9]' "$work/sample.txt")" = 5 ] || { echo "continuity errors differ"; exit 1; }

# A file name that is not UTF-8 still gives valid JSON.
odd="$work/$(printf 'odd\377')"
cp "$work/sample.ts" "$odd.ts"
"$cli" analyze "$odd.ts" --separator . --json >"$work/odd.json"
python3 - "$work/odd.json" <<'PY'
import json, sys
r = json.load(open(sys.argv[1], encoding="utf-8"))
f = r["file"]
want = {"packetSize": 188, "bytesBeforeFirstPacket": 100, "packetCount": 2648, "bitRate": 1990832,
        "pcrFound": True, "playTimeMs": 2000, "fileTotTdtTime": 1704110400, "syncLoss": 1}
bad = {k: f.get(k) for k, v in want.items() if f.get(k) != v}
assert not bad, bad
assert len(r["programInformation"]) == 3, r["programInformation"]
assert r["pidInformation"], "no PIDs"
PY

# TR 101 290 over the whole file: the keys of every indicator, and the faults made above
# (the garbage burst breaks the packet grid once, lost and skipped counts give 25).
(cd "$work" && "$cli" analyze sample.ts --separator . --tr101290) >"$work/tr.txt"
grep -qxF "  Priority 1 Continuity_count_error: 25" "$work/tr.txt" || { echo "no TR 101 290 text line"; exit 1; }
"$cli" analyze "$work/sample.ts" --tr101290 --json >"$work/tr.json"
python3 - "$work/tr.json" <<'PY'
import json, sys
tr = json.load(open(sys.argv[1]))["tr101290"]
p1 = ["ts_sync_loss", "sync_byte_error", "pat_error", "cc_error", "pmt_error", "pid_error"]
p2 = ["transport_error", "crc_error", "pcr_repetition_error", "pcr_discontinuity_indicator_error",
      "pcr_accuracy_error", "pts_error", "cat_error"]
assert list(tr) == ["p1", "p2"] and list(tr["p1"]) == p1 and list(tr["p2"]) == p2, tr
faults = {"ts_sync_loss": 1, "sync_byte_error": 1, "cc_error": 25}
got = {k: v for k, v in {**tr["p1"], **tr["p2"]}.items() if v}
assert got == faults, got
PY

status=0
"$cli" analyze "$work/missing.ts" 2>"$work/err" >/dev/null || status=$?
[ "$status" = 1 ] || { echo "missing file: exit $status"; exit 1; }
grep -q "cannot read" "$work/err"
head -c 100000 /dev/zero >"$work/zero.ts"
status=0
"$cli" analyze "$work/zero.ts" 2>"$work/err" >/dev/null || status=$?
[ "$status" = 2 ] || { echo "not a transport stream: exit $status"; exit 1; }
grep -q "not a transport stream" "$work/err"
status=0
"$cli" generate "$work/x.ts" --packet-size 200 2>"$work/err" >/dev/null || status=$?
[ "$status" = 1 ] || { echo "bad packet size: exit $status"; exit 1; }
echo "orvane-cli analyze: key outputs and failure cases pass"
