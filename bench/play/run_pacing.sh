#!/usr/bin/env bash
# Copy next to the playout harness (measure.sh, rx, streams/) and run it there.
# Orvane's pacing engines (--pacing thread, uring) against multicat, interleaved in the same run, N runs.
set -uo pipefail
cd "$(dirname "$0")"
RUNS=${1:-2}
CLI=${CLI:?set CLI to the orvane-cli binary}
OUT=${OUT:-$PWD/results/runs/pacing-$(date +%Y%m%d-%H%M%S)}
mkdir -p "$OUT"
PLAYERS=${PLAYERS:-"orvane-thread-rtp orvane-uring-rtp multicat-rtp"}
FILES=${FILES:-"streams/cbr_20M.ts streams/cbr_80M.ts"}
template() {
  case $1 in
    orvane-thread-rtp) echo "$CLI play {file} --to {addr} --rtp --pacing thread" ;;
    orvane-uring-rtp)  echo "$CLI play {file} --to {addr} --rtp --pacing uring" ;;
    orvane-auto-rtp)   echo "$CLI play {file} --to {addr} --rtp" ;;
    multicat-rtp)      echo "multicat {file} {addr}" ;;
  esac
}
for f in $FILES; do [ -s "${f%.ts}.aux" ] || ingests -p 256 "$f" >/dev/null; done
{ echo "# $(date -Is) host=$(hostname) cores=$(nproc) kernel=$(uname -r) load=$(cut -d' ' -f1-3 /proc/loadavg)"; } > "$OUT/env.txt"
for run in $(seq "$RUNS"); do
  for f in $FILES; do
    for p in $PLAYERS; do
      echo "== run $run $p $(basename "$f") load=$(cut -d' ' -f1 /proc/loadavg)" >&2
      ./measure.sh -l "$p" -o "$OUT" "$(template "$p")" "$f" | sed "s/^/run=$run load=$(cut -d' ' -f1 /proc/loadavg) /" >> "$OUT/all.kv"
      sleep 1
    done
  done
done
echo "# end $(date -Is) load=$(cut -d' ' -f1-3 /proc/loadavg)" >> "$OUT/env.txt"
echo "$OUT" >&2
