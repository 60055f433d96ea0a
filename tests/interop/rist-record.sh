#!/usr/bin/env bash
# `orvane-cli record --from rist://` records completely what ristsender
# (Debian rist-tools) sends, in the main and the simple profile, with either
# side calling, and with an AES secret. ristsender relays a UDP stream that
# `orvane-cli play` paces: play -> udp -> ristsender -> rist:// -> record.
# Every non-null packet of the source arrives, in order, and nothing counts
# as lost.
# Usage: rist-record.sh ORVANE-CLI
source "$(dirname "$0")/common.sh"
need ristsender rist-tools
generate "$work/gen.ts" 4000000 3
secret=orvane-interop-secret

# through NAME RISTPORT FROM-URL -- SENDER-ARGS: orvane-cli records FROM-URL,
# ristsender SENDER-ARGS takes a UDP stream orvane-cli plays.
through()
{
    local name=$1 udp=$(($2 + 5)) from=$3 rec_pid
    shift 4
    "$cli" record --from "$from" --out "$work/$name.ts" --quiet 2>"$work/$name.err" &
    rec_pid=$!
    pids+=("$rec_pid")
    ristsender "$@" -i "udp://127.0.0.1:$udp" -v 3 >"$work/$name.rist" 2>&1 &
    pids+=("$!")
    wait_udp_listener "$udp"
    sleep 1 # the RIST link
    # librist's simple-profile receiver keeps a new flow's first packet: stuffing opens it.
    python3 -c "import socket,sys; socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto(
        (b'\x47\x1f\xff\x10' + b'\xff' * 184) * 7, ('127.0.0.1', int(sys.argv[1])))" "$udp"
    sleep 0.2
    timeout 30 "$cli" play "$work/gen.ts" --to "127.0.0.1:$udp" --quiet >/dev/null 2>"$work/play.err" ||
        fail "orvane-cli play to the relay failed: $(cat "$work/play.err")"
    sleep 1.5 # the receiver's buffer (1 s) lets the stream's end out
    stop_record "$rec_pid" || fail "orvane-cli record ($name) ended with a failure: $(cat "$work/$name.err")"
    cat "$work/$name.err"
    grep -q "RIST: 0 given up" "$work/$name.err" || fail "orvane-cli record ($name) counted RIST losses"
    python3 "$here/tscompare.py" "$work/gen.ts" "$work/$name.ts" || fail "orvane-cli did not record all ($name)"
}

through main-listen 24740 "rist://@127.0.0.1:24740" -- -p 1 -o "rist://127.0.0.1:24740"
through simple-listen 24742 "rist://@127.0.0.1:24742?profile=simple" -- -p 0 -o "rist://127.0.0.1:24742"
through main-call 24744 "rist://127.0.0.1:24744" -- -p 1 -o "rist://@127.0.0.1:24744"
through secret 24746 "rist://@127.0.0.1:24746?secret=$secret&aes-type=128" -- \
    -p 1 -o "rist://127.0.0.1:24746?secret=$secret&aes-type=128"
echo "interop: orvane-cli recorded ristsender's stream completely, both profiles, calling and listening, with a secret"
