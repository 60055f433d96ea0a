#!/usr/bin/env bash
# srt-live-transmit (Debian srt-tools) receives what `orvane-cli play --to srt://`
# sends, with either side as listener: every non-null packet of the source
# arrives, in order (tscompare.py). A passphrase that matches carries the
# stream; a wrong one ends the play at once with its cause and status 1.
# Usage: srt-play.sh ORVANE-CLI
source "$(dirname "$0")/common.sh"
need srt-live-transmit srt-tools
generate "$work/gen.ts" 4000000 3
pass=orvane-interop-secret

# received NAME: the file srt-live-transmit wrote holds the whole stream.
received()
{
    python3 "$here/tscompare.py" "$work/gen.ts" "$work/$1.ts" || fail "srt-live-transmit did not receive all ($1)"
}

# srt-live-transmit listens, orvane-cli calls.
port=24700
srt-live-transmit -q "srt://:$port" file://con >"$work/listen.ts" 2>"$work/slt.err" &
slt_pid=$!
pids+=("$slt_pid")
wait_udp_listener "$port"
timeout 30 "$cli" play "$work/gen.ts" --to "srt://127.0.0.1:$port" --quiet >"$work/play.out" 2>&1 ||
    fail "orvane-cli play (caller) failed: $(cat "$work/play.out")"
grep -q "^SRT: 1 connection(s), 0 reconnect(s)" "$work/play.out" || fail "no SRT summary: $(cat "$work/play.out")"
sleep 0.5
kill -INT "$slt_pid"
wait_pid "$slt_pid" 5
received listen

# orvane-cli listens with a passphrase, srt-live-transmit calls with the same.
port=24701
timeout 30 "$cli" play "$work/gen.ts" --to "srt://:$port?passphrase=$pass&latency=200" --quiet >"$work/play.out" 2>&1 &
play_pid=$!
pids+=("$play_pid")
wait_udp_listener "$port"
srt-live-transmit -q "srt://127.0.0.1:$port?passphrase=$pass" file://con >"$work/call.ts" 2>"$work/slt.err" &
slt_pid=$!
pids+=("$slt_pid")
wait "$play_pid" || fail "orvane-cli play (listener) failed: $(cat "$work/play.out")"
sleep 0.5
kill -INT "$slt_pid"
wait_pid "$slt_pid" 5
received call

# A wrong passphrase: the caller is refused and says so.
port=24702
srt-live-transmit -q "srt://:$port?passphrase=$pass" file://con >/dev/null 2>"$work/slt.err" &
slt_pid=$!
pids+=("$slt_pid")
wait_udp_listener "$port"
status=0
timeout 30 "$cli" play "$work/gen.ts" --to "srt://127.0.0.1:$port?passphrase=not-$pass" --quiet \
    >"$work/play.out" 2>"$work/play.err" || status=$?
[ "$status" -eq 1 ] || fail "a wrong passphrase ended the play with status $status, not 1"
grep -q "wrong passphrase" "$work/play.err" || fail "the refusal does not name the passphrase: $(cat "$work/play.err")"
cat "$work/play.err"
echo "interop: srt-live-transmit received orvane-cli's SRT play completely, as listener and as caller"
