#!/usr/bin/env bash
# SMPTE 2022-1 FEC (L = D = 10, row+column) against plain RTP, end to end on loopback:
# orvane-cli play -> orvane-cli record, interleaved (plain, FEC, plain, FEC, ...), then one
# FEC run with 0.5 % random loss. Prints one key=value line per run.
# Usage: CLI=build/default/tools/orvane-cli bench/protection/run_fec.sh [RUNS] [RATE] [SECONDS]
set -uo pipefail
CLI=$(readlink -f "${CLI:-build/default/tools/orvane-cli}")
HERE=$(cd "$(dirname "$0")" && pwd)
RUNS=${1:-2}; RATE=${2:-200000000}; SECS=${3:-20}
W=${W:-/dev/shm/orvane-fec}; mkdir -p "$W"; SRC=$W/src.ts
[ -s "$SRC" ] || "$CLI" generate --rate "$RATE" --duration "$SECS" "$SRC" >/dev/null
one() { # label play-args... (record args from $RECARGS)
  local label=$1; shift; local port=$((30000 + RANDOM % 20000 / 10 * 10))
  rm -f "$W/rec.ts"
  /usr/bin/time -f '%U %S %e' -o "$W/rec.time" "$CLI" record --rtp --port "$port" $RECARGS --quiet --out "$W/rec.ts" >"$W/rec.log" 2>&1 &
  local t=$!; sleep 0.5; local rec; rec=$(pgrep -P "$t")
  local load; load=$(cut -d' ' -f1 /proc/loadavg)
  /usr/bin/time -f '%U %S %e' -o "$W/play.time" "$CLI" play "$SRC" --to "127.0.0.1:$port" --rtp --quiet "$@" >"$W/play.log" 2>&1
  local prc=$?; sleep 1; kill -INT "$rec"; wait "$t"; local rrc=$?
  read -r pu ps pe < <(tail -1 "$W/play.time"); read -r ru rs re < <(tail -1 "$W/rec.time")
  local same; same=$(python3 "$HERE/../../tests/interop/tscompare.py" "$SRC" "$W/rec.ts" >"$W/cmp.log" 2>&1 && echo yes || echo no)
  echo "label=$label load=$load play_rc=$prc rec_rc=$rrc play_cpu_per_s=$(echo "($pu+$ps)/$SECS" | bc -l | cut -c1-6)" \
       "rec_cpu_per_s=$(echo "($ru+$rs)/$SECS" | bc -l | cut -c1-6) rec_wall=$re complete=$same" \
       "play: $(grep -E '^(FEC|Impairment)' "$W/play.log" | tr '\n' ' ')" \
       "rec: $(grep '^orvane-cli:' "$W/rec.log" | tail -1)"
  [ "$same" = yes ] || head -3 "$W/cmp.log"
}
for run in $(seq "$RUNS"); do
  RECARGS="" one plain
  RECARGS="--fec" one fec --fec 10,10 --fec-mode row+column
done
RECARGS="--fec" one fec-loss0.5 --fec 10,10 --fec-mode row+column --impair loss=0.5 --impair-seed 3
