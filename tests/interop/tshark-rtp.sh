#!/usr/bin/env bash
# tshark decodes the RTP that `orvane-cli play --rtp` sends as MPEG-2 TS (MP2T),
# with no malformed packet and no expert error. The capture is live on the
# loopback interface (needs capture rights, as root in CI); where the interface
# cannot be opened the datagrams are captured by a UDP socket and written as a
# pcap (udp2pcap.py) instead, and the test says so. Either way tshark decodes
# the bytes that were sent.
# Usage: tshark-rtp.sh ORVANE-CLI
source "$(dirname "$0")/common.sh"
need tshark tshark
port=24640
generate "$work/gen.ts" 4000000 3
cap="$work/cap.pcap"

live=0
# ORVANE_INTEROP_NO_LIVE_CAPTURE=1 tries the stand-in where capture would work.
[ "${ORVANE_INTEROP_NO_LIVE_CAPTURE:-0}" = 1 ] && lo=no-such-interface || lo=lo
tshark -i "$lo" -f "udp dst port $port" -w "$cap" >"$work/tshark.out" 2>"$work/tshark.err" &
tshark_pid=$!
pids+=("$tshark_pid")
for _ in $(seq 100); do
    kill -0 "$tshark_pid" 2>/dev/null || break
    grep -q "Capturing on" "$work/tshark.err" && { live=1; break; }
    sleep 0.1
done
# A capture that cannot open the interface says "Capturing on" too, then ends.
sleep 0.5
kill -0 "$tshark_pid" 2>/dev/null || live=0

if [ "$live" = 1 ]; then
    echo "interop: live capture on lo"
    # Something must take the datagrams, or ICMP port-unreachable answers them.
    "$cli" monitor --port "$port" --rtp --seconds 8 --quiet 2>/dev/null &
    pids+=($!)
    wait_udp_listener "$port"
    "$cli" play "$work/gen.ts" --to "127.0.0.1:$port" --rtp >/dev/null 2>"$work/play.err" ||
        fail "orvane-cli play failed: $(cat "$work/play.err")"
    sleep 0.5
    kill -INT "$tshark_pid"
    wait_pid "$tshark_pid" 10
else
    echo "interop: live capture on lo is not possible here ($(head -c 300 "$work/tshark.err" | tr '\n' ' '))"
    echo "interop: capturing the datagrams with a UDP socket instead (udp2pcap.py)"
    kill "$tshark_pid" 2>/dev/null || true
    python3 "$here/udp2pcap.py" "$port" "$cap" 15 &
    sink=$!
    pids+=("$sink")
    wait_udp_listener "$port"
    "$cli" play "$work/gen.ts" --to "127.0.0.1:$port" --rtp >/dev/null 2>"$work/play.err" ||
        fail "orvane-cli play failed: $(cat "$work/play.err")"
    wait_pid "$sink" 20
fi
[ -s "$cap" ] || fail "nothing captured"

decode=(tshark -n -r "$cap" -d "udp.port==$port,rtp")
# One line per frame: RTP payload type and the PIDs of the TS packets in it.
"${decode[@]}" -T fields -e rtp.p_type -e mp2t.pid >"$work/fields.txt" 2>"$work/decode.err" ||
    fail "tshark could not read the capture: $(cat "$work/decode.err")"
frames=$(wc -l <"$work/fields.txt")
mp2t=$(awk -F'\t' '$1 == 33 && $2 != ""' "$work/fields.txt" | wc -l)
packets=$(awk -F'\t' '{ n += split($2, pids, ",") } END { print n + 0 }' "$work/fields.txt")
"${decode[@]}" -Y '_ws.malformed || _ws.expert.severity >= error' >"$work/bad.txt" 2>"$work/decode.err" ||
    fail "tshark could not read the capture: $(cat "$work/decode.err")"
echo "interop: tshark: $frames frames, $mp2t decoded as RTP payload type 33 with MP2T, $packets TS packets"
[ "$frames" -gt 0 ] || fail "nothing in the capture"
[ "$mp2t" -eq "$frames" ] || fail "only $mp2t of $frames frames decode as RTP/MP2T"
# Seven packets in every datagram; the last one may carry the rest of the file.
[ "$packets" -gt $(((frames - 1) * 7)) ] && [ "$packets" -le $((frames * 7)) ] ||
    fail "$packets TS packets in $frames datagrams: not seven in each"
if [ -s "$work/bad.txt" ]; then
    head -20 "$work/bad.txt" >&2
    fail "tshark found $(wc -l <"$work/bad.txt") malformed or erroneous frames"
fi
echo "interop: tshark decoded orvane-cli's RTP as MP2T, nothing malformed"
