#!/usr/bin/env bash
# Orvane before and after this round's changes against multicat, interleaved, same run.
set -uo pipefail
cd "$(dirname "$0")"
RUNS=${1:-3}
OUT=$PWD/results/runs/cmp-$(date +%Y%m%d-%H%M%S); mkdir -p "$OUT"
echo "# $(date -Is) cores=$(nproc) load=$(cut -d' ' -f1-3 /proc/loadavg)" > "$OUT/env.txt"
for run in $(seq "$RUNS"); do
  for p in base new multicat; do
    case $p in
      base) t="${BASE:?set BASE to the earlier orvane-cli} play {file} --to {addr} --rtp" ;;
      new) t="${NEW:?set NEW to the new orvane-cli} play {file} --to {addr} --rtp" ;;
      multicat) t="multicat {file} {addr}" ;;
    esac
    ./measure.sh -T 15 -l "$p" -o "$OUT" "$t" streams/cbr_20M.ts | sed "s/^/run=$run load=$(cut -d' ' -f1 /proc/loadavg) /" >> "$OUT/all.kv"
    sleep 1
  done
done
echo "$OUT"
