#!/usr/bin/env bash
# Copy next to the playout harness (rx, streams/) and run it there.
# Wake-ups and system calls per second of the play-out: orvane-cli --pacing thread
# and uring (and multicat) for 10 s each, interleaved, N runs. perf stat counts the
# whole process; /proc/PID/task/TID/status gives the play-out thread's voluntary
# and non-voluntary context switches over the same 10 s.
set -uo pipefail
cd "$(dirname "$0")"
RUNS=${1:-1}
CLI=${CLI:?set CLI to the orvane-cli binary}
RATES=${RATES:-"20 80"}
ctx() { # TID -> "voluntary nonvoluntary"
  awk '/^voluntary_ctxt_switches/{v=$2} /^nonvoluntary_ctxt_switches/{n=$2} END{print v+0, n+0}' "$1" 2>/dev/null
}
one() { # LABEL RATE THREADNAME "CMD"
  local L=$1 R=$2 T=$3 C=$4 P=$((32000 + RANDOM % 8000))
  ./rx -p $P -r $R -w 20 -i 1 -s 1 > /dev/null 2>&1 &
  local RX=$!
  sleep 0.3
  C=${C//\{addr\}/127.0.0.1:$P}
  perf stat -x, -e task-clock,context-switches,raw_syscalls:sys_enter -o "/tmp/wake_$L.perf" $C >/dev/null 2>&1 &
  local PS=$!
  sleep 2
  local PID TID=""
  PID=$(pgrep -P $PS | head -1)
  for t in /proc/$PID/task/*; do [ "$(cat $t/comm 2>/dev/null)" = "$T" ] && TID=$t; done
  [ -n "$TID" ] || TID=/proc/$PID/task/$PID
  read -r v0 n0 < <(ctx $TID/status)
  sleep 10
  read -r v1 n1 < <(ctx $TID/status)
  kill -INT $PID 2>/dev/null; wait $PS; kill $RX 2>/dev/null; wait $RX 2>/dev/null
  awk -F, -v l="$L" -v v=$((v1 - v0)) -v n=$((n1 - n0)) -v ld="$(cut -d' ' -f1 /proc/loadavg)" '
    $3=="task-clock"{tc=$1} $3=="context-switches"{cs=$1} $3=="raw_syscalls:sys_enter"{sc=$1}
    END{printf "label=%s thread_vol_cs_per_s=%.0f thread_invol_cs_per_s=%.0f process_task_clock_ms=%.0f process_cs=%d process_syscalls=%d load=%s\n", l, v/10, n/10, tc, cs, sc, ld}' "/tmp/wake_$L.perf"
}
for run in $(seq "$RUNS"); do
  for r in $RATES; do
    R=$((r * 1000000))
    one "orvane-thread-$r" $R orvane-playout "$CLI play streams/cbr_${r}M.ts --to {addr} --rtp --pacing thread"
    one "orvane-uring-$r" $R orvane-playout "$CLI play streams/cbr_${r}M.ts --to {addr} --rtp --pacing uring"
    one "multicat-$r" $R multicat "multicat streams/cbr_${r}M.ts {addr}"
  done
done
