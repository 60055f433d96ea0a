#!/usr/bin/env bash
# SMPTE 2022-7: one player, two loopback paths, merged by one recorder, against one path
# alone at the same rate, interleaved. Prints one key=value line per run.
# Usage: CLI=build/default/tools/orvane-cli bench/protection/run_merge.sh [RUNS] [RATE] [SECONDS]
set -uo pipefail
CLI=$(readlink -f "${CLI:-build/default/tools/orvane-cli}")
HERE=$(cd "$(dirname "$0")" && pwd)
RUNS=${1:-2}; RATE=${2:-1000000000}; SECS=${3:-12}  # the file is made at 1,000 Mbit/s, played at RATE
W=${W:-/dev/shm/orvane-merge}; mkdir -p "$W"; SRC=$W/src_1000000000.ts
[ -s "$SRC" ] || "$CLI" generate --rate 1000000000 --duration "$SECS" "$SRC" >/dev/null
one() { # label paths
  local label=$1 paths=$2; local p=$((30000 + RANDOM % 20000 / 10 * 10)); local q=$((p + 5))
  local rec_args=(--port "$p") play_to=(--to "127.0.0.1:$p")
  [ "$paths" = 2 ] && rec_args+=(--second-port "$q") && play_to+=(--to "127.0.0.1:$q")
  rm -f "$W/rec.ts"
  /usr/bin/time -f '%U %S %e' -o "$W/rec.time" "$CLI" record --rtp "${rec_args[@]}" --quiet --out "$W/rec.ts" >"$W/rec.log" 2>&1 &
  local t=$!; sleep 0.5; local rec; rec=$(pgrep -P "$t")
  local load; load=$(cut -d' ' -f1 /proc/loadavg)
  /usr/bin/time -f '%U %S %e' -o "$W/play.time" "$CLI" play "$SRC" --rtp "${play_to[@]}" --bitrate "$RATE" --quiet >"$W/play.log" 2>&1
  local prc=$?; sleep 1; kill -INT "$rec"; wait "$t"; local rrc=$?
  local SECS_PLAYED; SECS_PLAYED=$(echo "$SECS * 1000000000 / $RATE" | bc -l)
  read -r pu ps pe < <(tail -1 "$W/play.time"); read -r ru rs re < <(tail -1 "$W/rec.time")
  echo "label=$label rate=$RATE load=$load play_rc=$prc rec_rc=$rrc play_cpu_per_s=$(echo "($pu+$ps)/$SECS_PLAYED" | bc -l | cut -c1-6)" \
       "rec_cpu_per_s=$(echo "($ru+$rs)/$SECS_PLAYED" | bc -l | cut -c1-6) play_wall=$pe play_cpu=$pu+$ps rec_cpu=$ru+$rs" \
       "play: $(tail -2 "$W/play.log" | tr '\n' ' ')" "rec: $(grep -E '^orvane-cli|2022-7|[Pp]ath' "$W/rec.log" | tr '\n' ' ')"
}
for run in $(seq "$RUNS"); do one one-path 1; one two-paths 2; done
