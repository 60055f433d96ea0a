#!/usr/bin/env bash
# IPv6: `orvane-cli play` to [::1]:PORT and to the group ff15::1 is recorded
# completely by `orvane-cli record` (the group with a source-specific MLDv2
# join) and by ffmpeg's udp:// input, which writes the datagrams' bytes as
# they come (-f data in and out: no remux). The play pads with null packets,
# so "completely" is tscompare.py's: every non-null packet of the file, unchanged
# and in order, and nothing else but null packets; and the two recordings of one
# play are the same bytes.
# The test runs in a network namespace of its own (as root, `unshare -n`): a
# veth pair v0 (fd00:6::1) - v1 (fd00:6::2) carries the group from v0 to v1,
# so it does not depend on the machine's interfaces, and no port is shared.
# Usage: ipv6.sh ORVANE-CLI
if [ -z "${ORVANE_IPV6_NETNS:-}" ]; then
    command -v unshare >/dev/null ||
        { echo "interop: FAILED: unshare is not installed (Debian package util-linux)" >&2; exit 1; }
    exec unshare -n env ORVANE_IPV6_NETNS=1 "$0" "$@"
fi
source "$(dirname "$0")/common.sh"
need ffmpeg ffmpeg
need ip iproute2

ip link set lo up && ip link add v0 type veth peer name v1 && ip link set v0 up && ip link set v1 up &&
    ip addr add fd00:6::1/64 dev v0 nodad && ip addr add fd00:6::2/64 dev v1 nodad ||
    fail "cannot set up the veth pair in the private network namespace"
for _ in $(seq 50); do
    ip -6 route show table local | grep -q 'ff00::/8 dev v1 ' && break
    sleep 0.1
done
ip -6 route show table local | grep -q 'ff00::/8 dev v1 ' || fail "no multicast route on v1 after 5 s"

generate "$work/gen.ts" 4000000 3

# case NAME DESTINATION-HOST ORVANE-RECORD-OPTIONS... : plays the file twice at
# once, to port 5000 (orvane-cli record) and 5001 (ffmpeg), and compares both recordings.
case_()
{
    local name=$1 host=$2
    shift 2
    # ffmpeg ends 5 s after the last datagram (timeout, in microseconds).
    local ffhost=$host ffquery="fifo_size=1000000&overrun_nonfatal=1&timeout=5000000"
    local play_opts=()
    if [ "$host" = ff15::1 ]; then
        play_opts=(--interface v0 --ttl 2)
    fi
    "$cli" record --port 5000 "$@" --out "$work/$name-orvane.ts" --quiet 2>"$work/$name-record.err" &
    local rec_pid=$!
    pids+=("$rec_pid")
    ffmpeg -nostdin -v error -f data -i "udp://[$ffhost]:5001?$ffquery" -map 0 -c copy -f data \
        "$work/$name-ffmpeg.ts" 2>"$work/$name-ffmpeg.err" &
    local ff_pid=$!
    pids+=("$ff_pid")
    wait_udp_listener 5000
    wait_udp_listener 5001

    "$cli" play "$work/gen.ts" --to "[$host]:5000" "${play_opts[@]}" --quiet >/dev/null 2>"$work/$name-play1.err" &
    local play1=$!
    "$cli" play "$work/gen.ts" --to "[$host]:5001" "${play_opts[@]}" --quiet >/dev/null 2>"$work/$name-play2.err" ||
        fail "orvane-cli play to [$host]:5001 failed: $(cat "$work/$name-play2.err")"
    wait "$play1" || fail "orvane-cli play to [$host]:5000 failed: $(cat "$work/$name-play1.err")"
    sleep 0.5

    stop_record "$rec_pid" || fail "orvane-cli record ($name) failed: $(cat "$work/$name-record.err")"
    cat "$work/$name-record.err"
    grep -q ' 0 late or duplicate, 0 invalid, 0 overflow; 0 missing' "$work/$name-record.err" ||
        fail "orvane-cli record ($name) dropped datagrams"
    # ffmpeg ends on its time-out with an input error, after writing out what it has.
    wait_pid "$ff_pid" 15
    [ -s "$work/$name-ffmpeg.ts" ] || fail "ffmpeg ($name) recorded nothing: $(cat "$work/$name-ffmpeg.err")"

    python3 "$here/tscompare.py" "$work/gen.ts" "$work/$name-orvane.ts" ||
        fail "orvane-cli record ($name) differs from the file played"
    python3 "$here/tscompare.py" "$work/gen.ts" "$work/$name-ffmpeg.ts" ||
        fail "ffmpeg ($name) differs from the file played"
    # The two recordings of the same play (null packets and all) are the same bytes.
    cmp "$work/$name-orvane.ts" "$work/$name-ffmpeg.ts" ||
        fail "orvane-cli's and ffmpeg's recordings ($name) are not the same bytes"
    echo "interop: $name: orvane-cli and ffmpeg recorded the play completely, byte for byte alike"
}

case_ unicast ::1
case_ multicast ff15::1 --group ff15::1 --source fd00:6::1 --interface v1
echo "interop: IPv6 unicast and multicast plays recorded completely by orvane-cli and ffmpeg"
