#!/usr/bin/env bash
# `orvane-cli record --from srt://` records completely what srt-live-transmit
# (Debian srt-tools) sends, with either side as listener. srt-live-transmit
# cannot pace a file, so it relays a UDP stream that `orvane-cli play` paces:
# play -> udp://:U -> srt-live-transmit -> srt:// -> record. Every non-null
# packet of the source arrives, in order, and nothing counts as lost. A wrong
# passphrase ends the recording at once with its cause and status 1.
# Usage: srt-record.sh ORVANE-CLI
source "$(dirname "$0")/common.sh"
need srt-live-transmit srt-tools
generate "$work/gen.ts" 4000000 3
pass=orvane-interop-secret

# relay UDPPORT: plays the source through srt-live-transmit's UDP input.
relay()
{
    timeout 30 "$cli" play "$work/gen.ts" --to "127.0.0.1:$1" --quiet >/dev/null 2>"$work/play.err" ||
        fail "orvane-cli play to the relay failed: $(cat "$work/play.err")"
}

# recorded NAME PID: stops the recording and checks it.
recorded()
{
    sleep 1
    stop_record "$2" || fail "orvane-cli record ($1) ended with a failure: $(cat "$work/$1.err")"
    cat "$work/$1.err"
    grep -q "SRT: 0 given up by SRT as too late; 1 connection(s), 0 reconnect(s)" "$work/$1.err" ||
        fail "orvane-cli record ($1) counted SRT losses"
    python3 "$here/tscompare.py" "$work/gen.ts" "$work/$1.ts" || fail "orvane-cli did not record all ($1)"
}

# orvane-cli listens, srt-live-transmit calls; the JSON lines carry the link.
port=24710
"$cli" record --from "srt://:$port" --out "$work/listen.ts" --json 2>"$work/listen.err" >"$work/listen.json" &
rec_pid=$!
pids+=("$rec_pid")
wait_udp_listener "$port"
srt-live-transmit -q "udp://:24711" "srt://127.0.0.1:$port" 2>"$work/slt.err" &
pids+=("$!")
wait_udp_listener 24711
sleep 1 # the SRT connection
relay 24711
recorded listen "$rec_pid"
python3 - "$work/listen.json" <<'PY' || fail "the JSON lines do not show the SRT link"
import json, sys
lines = [json.loads(l) for l in open(sys.argv[1]) if l.strip()]
connected = [l["srt"] for l in lines if l["srt"]["state"] == "connected"]
assert connected, "no line shows the link connected"
last = connected[-1]
assert last["connections"] == 1 and last["reconnects"] == 0, last
assert last["transport_drops"] == 0 and last["dropped"] == 0, last
assert last["packets_received"] > 0 and last["latency_ms"] == 120, last
print(f"interop: JSON srt object: {json.dumps(last)}")
PY

# srt-live-transmit listens with a passphrase, orvane-cli calls with the same.
port=24712
srt-live-transmit -q "udp://:24713" "srt://:$port?passphrase=$pass" 2>"$work/slt.err" &
pids+=("$!")
wait_udp_listener "$port"
"$cli" record --from "srt://127.0.0.1:$port?passphrase=$pass" --out "$work/call.ts" --quiet 2>"$work/call.err" &
rec_pid=$!
pids+=("$rec_pid")
sleep 1 # the SRT connection
relay 24713
recorded call "$rec_pid"

# A wrong passphrase: the recording is refused and says so.
status=0
timeout 30 "$cli" record --from "srt://127.0.0.1:$port?passphrase=not-$pass" --out "$work/wrong.ts" --quiet \
    2>"$work/wrong.err" || status=$?
[ "$status" -eq 1 ] || fail "a wrong passphrase ended the recording with status $status, not 1"
grep -q "wrong passphrase" "$work/wrong.err" || fail "the refusal does not name the passphrase: $(cat "$work/wrong.err")"
cat "$work/wrong.err"
echo "interop: orvane-cli recorded srt-live-transmit's stream completely, as listener and as caller"
