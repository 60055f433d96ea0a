#!/usr/bin/env bash
# An RTP stream recorded in UDP mode is written as received, headers included,
# and `orvane-cli record` tells the user to switch: "look like RTP: use --rtp".
# Usage: record-rtp-hint.sh ORVANE-CLI
source "$(dirname "$0")/common.sh"
port=24650
generate "$work/gen.ts" 2000000 2
"$cli" record --port "$port" --out "$work/rec.ts" --quiet 2>"$work/record.err" &
rec_pid=$!
pids+=("$rec_pid")
wait_udp_listener "$port"
"$cli" play "$work/gen.ts" --to "127.0.0.1:$port" --rtp >/dev/null 2>&1 || fail "orvane-cli play failed"
sleep 0.3
stop_record "$rec_pid" || fail "orvane-cli record failed: $(cat "$work/record.err")"
cat "$work/record.err"
grep -q 'the datagrams look like RTP: use --rtp' "$work/record.err" || fail "no hint while recording"
grep -Eq '[1-9][0-9]* of [1-9][0-9]* datagrams look like RTP: use --rtp' "$work/record.err" ||
    fail "no hint in the summary"
echo "interop: UDP mode on an RTP stream tells the user to use --rtp"
