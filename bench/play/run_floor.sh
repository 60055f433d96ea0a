#!/usr/bin/env bash
# Copy next to the playout harness (rx, streams/) with minsend.c and run it there.
# The cost floor of paced sending on this machine: a minimal sender that sleeps to each
# datagram's due time and sends it (one wake-up and one send per datagram, nothing else),
# at normal and at real-time priority, against orvane-cli and multicat, 10 s each,
# interleaved, N runs. CPU per stream second and per datagram, from /usr/bin/time.
set -uo pipefail
cd "$(dirname "$0")"
RUNS=${1:-2}
CLI=${CLI:?set CLI to the orvane-cli binary, e.g. CLI=$REPO/build/default/tools/orvane-cli}
[ -x minsend ] || cc -O2 -o minsend minsend.c || exit 2
one() { # LABEL RATE "CMD with {addr} {port}"
  local L=$1 R=$2 C=$3 P=$((32000 + RANDOM % 8000))
  ./rx -p $P -r $R -w 20 -i 1 -s 1 > "/tmp/floor_$L.kv" 2>/dev/null &
  local RX=$!
  sleep 0.3
  C=${C//\{addr\}/127.0.0.1:$P}; C=${C//\{port\}/$P}
  timeout -s INT 11 /usr/bin/time -f '%U %S %e' -o "/tmp/floor_$L.time" bash -c "exec $C" >/dev/null 2>&1
  wait $RX
  read -r U S _ < <(tail -1 "/tmp/floor_$L.time")
  kv() { tr ' ' '\n' < "/tmp/floor_$L.kv" | sed -n "s/^$1=//p"; }
  awk -v l="$L" -v u="$U" -v s="$S" -v d="$(kv datagrams)" -v r="$R" -v b="$(kv burst100us_max)" \
      -v df="$(kv df_mean_ms)" -v ld="$(cut -d' ' -f1 /proc/loadavg)" 'BEGIN{c=u+s; n=d>0?d:int(10*r/(1328*8));
      printf "label=%s rate=%d cpu_s=%.3f datagrams=%d cpu_per_stream_s=%.4f us_per_datagram=%.1f burst100us_max=%s df_mean_ms=%s load=%s\n",
      l, r, c, d, c/(n*1328*8/r), c/n*1e6, b, df, ld}'
}
for run in $(seq "$RUNS"); do
  for r in 4 20 80; do
    R=$((r * 1000000))
    one "orvane-smooth-$r" $R "$CLI play streams/cbr_${r}M.ts --to {addr} --rtp"
    one "multicat-$r" $R "multicat streams/cbr_${r}M.ts {addr}"
    one "minsend-rt-$r" $R "chrt -f 10 ./minsend pace $R 10 {port}"
    one "minsend-$r" $R "./minsend pace $R 10 {port}"
    one "sleep-only-rt-$r" $R "chrt -f 10 ./minsend sleep $R 10 {port}"
  done
done
