#!/usr/bin/env bash
# Black-box: two orvane-devsim devices on loopback, listed by `orvane-cli discover`.
set -euo pipefail
devsim=$1
cli=$2
port=$((20000 + $$ % 20000))
out=$(mktemp)
trap 'kill $a $b 2>/dev/null || true; rm -f "$out"' EXIT
"$devsim" --address 127.0.0.2 --port "$port" --serial 4711001 --model IPS-400 --seconds 20 >/dev/null &
a=$!
"$devsim" --address 127.0.0.3 --port "$port" --serial 4711002 --mac 02:aa:bb:cc:dd:ee --firmware 2.7.0.13 \
    --seconds 20 >/dev/null &
b=$!
# The simulators may take a while to bind on a busy machine: ask again until both answer.
for attempt in 1 2 3 4 5; do
    sleep 0.3
    "$cli" discover --target 127.0.0.2 --target 127.0.0.3 --port "$port" --seconds 1.5 >"$out"
    grep -q '^2 device(s);' "$out" && break
done
cat "$out"
grep -Eq '^127\.0\.0\.2 +4711001 +02:00:00:00:00:01 +1\.0\.0\.0 +4 +IPS-400$' "$out"
grep -Eq '^127\.0\.0\.3 +4711002 +02:aa:bb:cc:dd:ee +2\.7\.0\.13 +4 +ORV-SIM$' "$out"
grep -q '^2 device(s);' "$out"
# Bad input is refused with a message, not sent anywhere.
if "$cli" discover --target 300.1.2.3 --seconds 0.2 2>"$out"; then exit 1; fi
grep -q '"300.1.2.3" is not an IPv4 address' "$out"
# A port or a time that cannot work is refused with a message and status 2.
for args in "--port 0" "--seconds -1" "--seconds 0" "--seconds 1e300"; do
    s=0
    # shellcheck disable=SC2086
    "$cli" discover --target 127.0.0.1 $args 2>"$out" || s=$?
    [ "$s" = 2 ] || { echo "discover $args: status $s" >&2; exit 1; }
    grep -Eq 'must be (1\.\.65535|0\.1\.\.3600)$' "$out" || { cat "$out" >&2; exit 1; }
done
