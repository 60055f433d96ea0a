#!/usr/bin/env bash
# End to end, as root: a firewall rule that drops the play's datagrams on output
# for 3 s makes every send fail with EPERM. `orvane-cli play` must say "Network
# send error" with the system's reason in its status line and end with status 1.
set -euo pipefail
cli=$(realpath "$1")
[ "$(id -u)" -eq 0 ] || { echo "needs root for the firewall rule"; exit 77; }
command -v nft >/dev/null || { echo "nft is missing: scripts/install-deps.sh installs nftables" >&2; exit 1; }
work=$(mktemp -d)
table="orvane_cli_test_$$"
cleanup() {
    nft delete table inet "$table" 2>/dev/null || true
    [ -n "${rx:-}" ] && kill "$rx" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
port=$(python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$cli" generate "$work/v.ts" --programs 1 --rate 4000000 --duration 4 >/dev/null
"$cli" monitor --port "$port" >/dev/null 2>&1 &
rx=$!
"$cli" play "$work/v.ts" --to "127.0.0.1:$port" --loop >"$work/out" 2>"$work/err" &
play=$!
sleep 2
nft add table inet "$table"
nft "add chain inet $table out { type filter hook output priority 0; }"
nft add rule inet "$table" out udp dport "$port" drop
sleep 3
nft delete table inet "$table"
sleep 1.5
kill -INT "$play"
status=0
wait "$play" || status=$?
fail() { echo "$1; status $status; stdout:" >&2; cat "$work/out" >&2; echo "stderr:" >&2; cat "$work/err" >&2; exit 1; }
[ "$status" -eq 1 ] || fail "want exit status 1"
grep -q "Network send error: Operation not permitted, .* datagrams not sent" "$work/out" || fail "no send error in the status line"
grep -q "No errors detected" "$work/out" || fail "the play before the rule was clean"
grep -q "Network send error" "$work/err" || fail "no send error in the summary"

# The second output of an impaired play with FEC: its refused datagrams are send
# errors of the play too, next to what the impairment lost on purpose.
port2=$((port + 10))
nft add table inet "$table"
nft "add chain inet $table out { type filter hook output priority 0; }"
nft add rule inet "$table" out udp dport "$port2" drop
status=0
"$cli" play "$work/v.ts" --rtp --fec 4,4 --impair loss=1 --to "127.0.0.1:$port" --to "127.0.0.1:$port2" \
    >"$work/out" 2>"$work/err" || status=$?
nft delete table inet "$table"
[ "$status" -eq 1 ] || fail "second output refused: want exit status 1"
grep -q "Network send error: Operation not permitted" "$work/err" || fail "second output refused: no send error"
grep -q "^Impairment: [1-9][0-9]* datagrams lost on purpose" "$work/out" || fail "no impairment in the summary"
echo "send errors shown and counted: exit status 1"
