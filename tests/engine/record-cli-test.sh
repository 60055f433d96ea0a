#!/usr/bin/env bash
# Black-box: `orvane-cli record` never destroys a file and never dies silently:
# a port it cannot bind leaves the named file alone; a closed standard output,
# a file size limit and a deleted output directory each end the run with a
# message and status 1. Loopback only.
source "$(dirname "$0")/../support/cli-test.sh"
base=$((20000 + $$ % 20000))
# Waits (bounded, 10 s) for process $1; its exit status goes to $status.
status=0
wait_status()
{
    for _ in $(seq 100); do
        kill -0 "$1" 2>/dev/null || break
        sleep 0.1
    done
    status=0
    wait "$1" || status=$?
}

# A port already in use: status 1, and the file named keeps every byte.
"$cli" monitor --port "$base" --quiet --seconds 30 2>/dev/null &
pids+=($!)
wait_listener "$base"
printf 'recorded earlier' >"$work/keep.ts"
s=0
"$cli" record --port "$base" --out "$work/keep.ts" --quiet 2>"$work/err" || s=$?
[ "$s" = 1 ] || fail "port in use: status $s"
grep -q 'Address already in use' "$work/err" || fail "no reason: $(cat "$work/err")"
[ "$(cat "$work/keep.ts")" = 'recorded earlier' ] || fail "keep.ts was changed"

# Standard output closed (| head): status 1 with a message, not a SIGPIPE death.
# Every status line shows the datagrams lost in the kernel.
{
    s=0
    "$cli" record --port $((base + 1)) --out "$work/pipe.ts" 2>"$work/err" || s=$?
    echo "$s" >"$work/rc"
} | head -1 >"$work/line"
grep -q 'kernel drops 0  No Data Recv\|kernel drops 0  No errors detected' "$work/line" ||
    fail "status line: $(cat "$work/line")"
[ "$(cat "$work/rc")" = 1 ] || fail "closed output: status $(cat "$work/rc")"
grep -q 'standard output failed (Broken pipe); stopping' "$work/err" || fail "no message: $(cat "$work/err")"

# A file size limit: the write fails with EFBIG, status 1, the data kept.
"$cli" generate "$work/gen.ts" --rate 8000000 --duration 3 >/dev/null
(
    ulimit -f 1024
    exec "$cli" record --port $((base + 2)) --out "$work/big.ts" --quiet 2>"$work/err"
) &
rec=$!
pids+=("$rec")
wait_listener $((base + 2))
"$cli" play "$work/gen.ts" --to "127.0.0.1:$((base + 2))" >/dev/null 2>&1 || true
wait_status "$rec"
[ "$status" = 1 ] || fail "file size limit: status $status"
grep -q 'failed (File too large)' "$work/err" || fail "no message: $(cat "$work/err")"
[ "$(stat -c %s "$work/big.ts")" -gt 0 ] || fail "nothing kept"

# The output directory deleted during the recording: status 1 with a message.
mkdir "$work/gone"
"$cli" record --port $((base + 3)) --out "$work/gone/rec.ts" --quiet 2>"$work/err" &
rec=$!
pids+=("$rec")
wait_listener $((base + 3))
# The socket is bound before the file is made: wait for the file (slow under the sanitizers).
for _ in $(seq 100); do [ -e "$work/gone/rec.ts" ] && break; sleep 0.05; done
rm -rf "$work/gone"
wait_status "$rec"
[ "$status" = 1 ] || fail "deleted directory: status $status"
grep -q 'gone/rec.ts was deleted (or its directory removed)' "$work/err" || fail "no message: $(cat "$work/err")"
echo "record-cli: ok"
