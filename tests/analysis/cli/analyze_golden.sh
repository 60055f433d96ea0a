#!/usr/bin/env bash
# orvane-cli generate + analyze against reviewed reference outputs, and the
# exit statuses of its failure cases. Arguments: the orvane-cli binary, this folder.
# Set ORVANE_UPDATE_GOLDEN=1 to rewrite the references (review the diff!).
set -euo pipefail
cli=$(realpath "$1")
here=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$cli" generate "$work/sample.ts" --programs 3 --rate 2000000 --duration 2 --leading-garbage 100 \
    --drop-every 40 --cc-error-every 150 --garbage-every 2000 --garbage-bytes 10 >/dev/null
(cd "$work" && "$cli" analyze sample.ts --separator .) >"$work/sample.txt"
(cd "$work" && "$cli" analyze sample.ts --separator . --json) >"$work/sample.json"

for f in sample.txt sample.json; do
    if [ "${ORVANE_UPDATE_GOLDEN:-0}" = 1 ]; then
        cp "$work/$f" "$here/$f"
    fi
    diff -u "$here/$f" "$work/$f"
done

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
# A file name that is not UTF-8 still gives valid JSON.
odd="$work/$(printf 'odd\377')"
cp "$work/sample.ts" "$odd.ts"
# Output goes to files first: grep -q would close the pipe early.
"$cli" analyze "$odd.ts" --json >"$work/odd.json"
grep -q '"packetSize": 188' "$work/odd.json"
"$cli" analyze --help >"$work/help.txt"
grep -q -- "--json" "$work/help.txt"
"$cli" generate --help >"$work/help.txt"
grep -q -- "--programs" "$work/help.txt"
echo "orvane-cli analyze: golden outputs and failure cases pass"
