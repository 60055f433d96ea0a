#!/usr/bin/env bash
# Soak: orvane-cli play loops a 40 Mbit/s stream (every adaptation on) into
# orvane-cli record with a ring of files, for 30 minutes by default, while the
# playout harness's meter (rx) measures the same datagrams. Everything runs in
# a network namespace of its own: the stream goes to a multicast group on that
# namespace's loopback, so recorder and meter both see every datagram and
# nothing reaches a real network.
#
#   sudo CLI=build/default/tools/orvane-cli RX=/tmp/pb/rx bench/soak/run_soak.sh [SECONDS]
#
# Needs root (ip netns). Writes OUT (default /tmp/orvane-soak) with samples.csv
# (RSS and CPU of both processes once a minute), the logs and summary.kv.
set -euo pipefail

duration=${1:-1800}
cli=$(realpath "${CLI:?set CLI to the orvane-cli binary}")
rx=$(realpath "${RX:?set RX to the playout harness meter (make rx in bench/play)}")
out=${OUT:-/tmp/orvane-soak}
rate=${RATE:-40000000}
group=239.255.42.1
port=6420
ns=orvane-soak-$$

rm -rf "$out" && mkdir -p "$out/ring"
cleanup() {
    for p in ${play_pid:-} ${rec_pid:-} ${rx_pid:-}; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    ip netns del "$ns" 2>/dev/null || true
}
trap cleanup EXIT

ip netns add "$ns"
inns() { ip netns exec "$ns" "$@"; }
inns ip link set lo up
inns ip link set lo multicast on
inns ip route add 224.0.0.0/4 dev lo

# 60 s of two programs; the loop point comes around 30 times.
"$cli" generate "$out/soak.ts" --programs 2 --rate "$rate" --duration 60 >/dev/null

# Meter first (it waits for the first datagram), then the recorder, then the player.
inns "$rx" -a "$group" -p "$port" -r "$rate" -w 60 -i 5 -t $((duration + 60)) -s 5 \
    > "$out/rx.kv" 2> "$out/rx.log" &
rx_pid=$!
inns "$cli" record --port "$port" --rtp --group "$group" --out "$out/ring/soak.ts" \
    --seconds 60 --ring 10 --quiet 2> "$out/record.log" &
rec_pid=$!
sleep 2
inns "$cli" play "$out/soak.ts" --to "$group:$port" --rtp --loop --pcr-restamp --cc-restamp --tdt now \
    > "$out/play.log" 2>&1 &
play_pid=$!
sleep 3

# The processes under ip netns exec are its children; find the real ones.
child_of() { pgrep -P "$1" -f "$2" | head -1 || true; }
pp=$(child_of "$play_pid" "orvane-cli play"); pp=${pp:-$play_pid}
rp=$(child_of "$rec_pid" "orvane-cli record"); rp=${rp:-$rec_pid}
tck=$(getconf CLK_TCK)
sample() {  # t, then rss_kb and cpu ticks of player and recorder
    local t=$1 line="$1"
    for p in "$pp" "$rp"; do
        local rss cpu
        rss=$(awk '/^VmRSS/{print $2}' "/proc/$p/status")
        cpu=$(awk '{print $14 + $15}' "/proc/$p/stat")
        line="$line,$rss,$cpu"
    done
    echo "$line,$(cut -d' ' -f1 /proc/loadavg)" >> "$out/samples.csv"
}
echo "t_s,play_rss_kb,play_cpu_ticks,rec_rss_kb,rec_cpu_ticks,load1" > "$out/samples.csv"
start=$(date +%s)
sample 0
while :; do
    sleep 60
    t=$(( $(date +%s) - start ))
    kill -0 "$pp" 2>/dev/null && kill -0 "$rp" 2>/dev/null || { echo "soak: a process ended early" >&2; break; }
    sample "$t"
    [ "$t" -ge "$duration" ] && break
done

kill -INT "$pp"; wait "$play_pid" || true; play_pid=
sleep 4
kill -INT "$rp"; wait "$rec_pid" || true; rec_pid=
wait "$rx_pid" || true; rx_pid=

# Summary: memory first/last, CPU per stream second, losses.
awk -F, -v tck="$tck" 'NR==2{t0=$1; p0=$3; r0=$5; prs0=$2; rrs0=$4}
    NR>1{t=$1; p=$3; r=$5; prs=$2; rrs=$4}
    END{printf "play_rss_start_kb=%d play_rss_end_kb=%d rec_rss_start_kb=%d rec_rss_end_kb=%d " \
               "play_cpu_per_s=%.4f rec_cpu_per_s=%.4f sampled_s=%d\n",
               prs0, prs, rrs0, rrs, (p-p0)/tck/(t-t0), (r-r0)/tck/(t-t0), t-t0}' \
    "$out/samples.csv" > "$out/summary.kv"
tail -1 "$out/rx.kv" >> "$out/summary.kv" || true
grep "bytes in" "$out/record.log" >> "$out/summary.kv" || true
cat "$out/summary.kv"
