#!/usr/bin/env bash
# Copy next to the playout harness (measure.sh, rx) and run it there.
# Orvane over SRT (120 ms latency) into srt-live-transmit, whose UDP output rx measures,
# against Orvane's plain RTP play measured by rx directly; interleaved, N runs, 20 and 100 Mbit/s.
# CPU: the orvane-cli player alone (its own /usr/bin/time), per second of stream.
set -uo pipefail
cd "$(dirname "$0")"
RUNS=${1:-2}
CLI=${CLI:?set CLI to the orvane-cli binary}
OUT=${OUT:-$PWD/results/runs/srt-$(date +%Y%m%d-%H%M%S)}; mkdir -p "$OUT"
RATES=${RATES:-"20 100"}; SECS=${SECS:-20}
mkdir -p streams
for r in $RATES; do
  [ -s streams/gen_${r}M.ts ] || "$CLI" generate --rate $((r * 1000000)) --duration "$SECS" streams/gen_${r}M.ts >/dev/null
done
T=$OUT/orvane.time
template() {
  case $1 in
    rtp) echo "/usr/bin/time -f '%U %S %e' -o $T $CLI play {file} --to {addr} --rtp --quiet" ;;
    srt) echo "S=\$(({port} + 1)); srt-live-transmit -q \"srt://:\$S?mode=listener&latency=120\" udp://{addr} & L=\$!; sleep 0.5;" \
              "/usr/bin/time -f '%U %S %e' -o $T $CLI play {file} --to \"srt://127.0.0.1:\$S?latency=120\" --quiet; rc=\$?; sleep 0.5; kill \$L; exit \$rc" ;;
  esac
}
echo "# $(date -Is) cores=$(nproc) load=$(cut -d' ' -f1-3 /proc/loadavg)" > "$OUT/env.txt"
for run in $(seq "$RUNS"); do
  for r in $RATES; do
    for p in rtp srt; do
      load=$(cut -d' ' -f1 /proc/loadavg); rm -f "$T"
      line=$(./measure.sh -T 20 -l "orvane-$p" -o "$OUT" "$(template $p)" streams/gen_${r}M.ts)
      read -r u s e < <(tail -1 "$T")
      echo "run=$run load=$load orvane_cpu_per_stream_s=$(echo "($u + $s) / $SECS" | bc -l | cut -c1-6) $line" >> "$OUT/all.kv"
      sleep 1
    done
  done
done
echo "# end $(date -Is) load=$(cut -d' ' -f1-3 /proc/loadavg)" >> "$OUT/env.txt"
echo "$OUT"
