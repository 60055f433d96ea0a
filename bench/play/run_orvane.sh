#!/usr/bin/env bash
# Copy next to the playout harness (measure.sh, rx, refplay, streams/) and run it there.
# Orvane (smooth and per-cycle burst) against multicat and the reference pacer, interleaved, N runs.
set -uo pipefail
cd "$(dirname "$0")"
RUNS=${1:-2}
CLI=${CLI:?set CLI to the orvane-cli binary, e.g. CLI=$REPO/build/default/tools/orvane-cli}
OUT=${OUT:-$PWD/results/runs/orvane-$(date +%Y%m%d-%H%M%S)}
mkdir -p "$OUT"
PLAYERS=${PLAYERS:-"orvane-smooth-rtp orvane-burst-rtp multicat-rtp refplay-rtp"}
FILES=${FILES:-"streams/cbr_4M.ts streams/cbr_20M.ts streams/cbr_80M.ts"}
template() {
  case $1 in
    orvane-smooth-rtp) echo "$CLI play {file} --to {addr} --rtp" ;;
    orvane-burst-rtp)  echo "$CLI play {file} --to {addr} --rtp --burst" ;;
    multicat-rtp)      echo "multicat {file} {addr}" ;;
    refplay-rtp)       echo "$PWD/refplay -u {file} {addr}" ;;
  esac
}
{ echo "# $(date -Is) host=$(hostname) cores=$(nproc) kernel=$(uname -r) load=$(cut -d' ' -f1-3 /proc/loadavg)"; } > "$OUT/env.txt"
for run in $(seq "$RUNS"); do
  for f in $FILES; do
    for p in $PLAYERS; do
      echo "== run $run $p $(basename "$f") load=$(cut -d' ' -f1 /proc/loadavg)" >&2
      ./measure.sh -l "$p" -o "$OUT" "$(template "$p")" "$f" | sed "s/^/run=$run /" >> "$OUT/all.kv"
      sleep 1
    done
  done
done
echo "# end $(date -Is) load=$(cut -d' ' -f1-3 /proc/loadavg)" >> "$OUT/env.txt"
echo "$OUT" >&2
