#!/usr/bin/env bash
# ristreceiver (Debian rist-tools) receives what `orvane-cli play --to rist://`
# sends, in the main and the simple profile, with either side calling, and
# with an AES secret. ristreceiver hands the stream on as UDP, which
# `orvane-cli record` writes: every non-null packet of the source arrives, in
# order (tscompare.py).
# Usage: rist-play.sh ORVANE-CLI
source "$(dirname "$0")/common.sh"
need ristreceiver rist-tools
generate "$work/gen.ts" 4000000 3
secret=orvane-interop-secret

# through NAME RISTPORT RECEIVER-ARGS -- PLAY-URL: ristreceiver RECEIVER-ARGS
# relays to a UDP port that orvane-cli records; orvane-cli plays to PLAY-URL.
through()
{
    local name=$1 udp=$(($2 + 5)) args=() rec_pid rist_pid
    shift 2
    while [ "$1" != -- ]; do args+=("$1"); shift; done
    shift
    "$cli" record --port "$udp" --out "$work/$name.ts" --quiet 2>"$work/$name.err" &
    rec_pid=$!
    pids+=("$rec_pid")
    wait_udp_listener "$udp"
    ristreceiver "${args[@]}" -o "udp://127.0.0.1:$udp" -v 3 >"$work/$name.rist" 2>&1 &
    rist_pid=$!
    pids+=("$rist_pid")
    sleep 0.5
    timeout 30 "$cli" play "$work/gen.ts" --to "$1" --quiet >"$work/$name.out" 2>&1 ||
        fail "orvane-cli play ($name) failed: $(cat "$work/$name.out")"
    grep -q "^RIST: " "$work/$name.out" || fail "no RIST summary ($name): $(cat "$work/$name.out")"
    sleep 1.5 # ristreceiver's buffer (1 s) lets the stream's end out
    stop_record "$rec_pid" || fail "orvane-cli record ($name) ended with a failure: $(cat "$work/$name.err")"
    kill -INT "$rist_pid" 2>/dev/null || true
    python3 "$here/tscompare.py" "$work/gen.ts" "$work/$name.ts" ||
        fail "ristreceiver did not receive all ($name): $(tail -n 5 "$work/$name.rist")"
}

through main-listen 24730 -p 1 -i "rist://@127.0.0.1:24730" -- "rist://127.0.0.1:24730"
through simple-listen 24732 -p 0 -i "rist://@127.0.0.1:24732" -- "rist://127.0.0.1:24732?profile=simple"
through main-call 24734 -p 1 -i "rist://127.0.0.1:24734" -- "rist://@127.0.0.1:24734"
through secret 24736 -p 1 -i "rist://@127.0.0.1:24736?secret=$secret&aes-type=128" -- \
    "rist://127.0.0.1:24736?secret=$secret&aes-type=128"
echo "interop: ristreceiver received orvane-cli's RIST play completely, both profiles, calling and listening, with a secret"
