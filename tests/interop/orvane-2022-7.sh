#!/usr/bin/env bash
# SMPTE 2022-7 end to end between Orvane's own ends: one `orvane-cli play
# --rtp` with two outputs (--to twice) and independent random loss on each
# (--impair loss=2: every path has its own seed, derived from --impair-seed),
# into `orvane-cli record --rtp --second-port`: the merged recording holds every
# non-null packet of the source, in order (tscompare.py), and counts nothing
# missing. Seed 8 loses no datagram on both paths at once in this stream (the
# same seed repeats the same losses); the first datagrams are the play's null
# stuffing. The same play recorded from one path alone misses datagrams, and
# the recorder says so.
# Usage: orvane-2022-7.sh ORVANE-CLI
source "$(dirname "$0")/common.sh"
port=24660
second=24670
generate "$work/gen.ts" 4000000 3
play=("$cli" play "$work/gen.ts" --rtp --to "127.0.0.1:$port" --to "127.0.0.1:$second" --impair loss=2
    --impair-seed 8 --quiet)

# run NAME RECORD-OPTIONS...
run()
{
    local name=$1
    shift
    "$cli" record --rtp --port "$port" "$@" --out "$work/$name.ts" --quiet 2>"$work/$name.err" &
    local rec_pid=$!
    pids+=("$rec_pid")
    wait_udp_listener "$port"
    "${play[@]}" >"$work/play-$name.out" 2>&1 || fail "orvane-cli play ($name) failed: $(cat "$work/play-$name.out")"
    cat "$work/play-$name.out"
    sleep 0.5
    stop_record "$rec_pid" || true
    cat "$work/$name.err"
}

run merged --second-port "$second"
grep -q '^Impairment: [1-9][0-9]* datagrams lost on purpose' "$work/play-merged.out" ||
    fail "the play's summary does not tell what the impairment lost"
grep -q ' 0 late or duplicate, 0 invalid, 0 overflow; 0 missing' "$work/merged.err" ||
    fail "the merged recording misses datagrams"
grep -q 'path 1: [0-9]* received, [1-9][0-9]* missing' "$work/merged.err" &&
    grep -q 'path 2: [0-9]* received, [1-9][0-9]* missing' "$work/merged.err" ||
    fail "a path lost nothing: the test does not test the merge"
python3 "$here/tscompare.py" "$work/gen.ts" "$work/merged.ts" || fail "the merged recording is not the source"

run single
grep -q ' [1-9][0-9]* missing' "$work/single.err" || fail "one path alone lost nothing"
if python3 "$here/tscompare.py" "$work/gen.ts" "$work/single.ts" >/dev/null; then
    fail "the recording of one path is complete: no loss was impaired"
fi
echo "interop: the 2022-7 merge of two impaired outputs of one play is the source; one path alone is not"
