#!/usr/bin/env bash
# Black-box: `orvane-cli play` refuses what cannot make sense with exit status 2
# and a message, and a start that the system refuses names the system's reason
# (exit status 1). Nothing needs to listen: no play gets that far.
source "$(dirname "$0")/../support/cli-test.sh"
"$cli" generate "$work/good.ts" --rate 2000000 --duration 2 >/dev/null
head -c 50000 /dev/zero | tr '\0' '\021' >"$work/text.ts"
play=("$cli" play "$work/good.ts")
expect 2 "--packet-size 204 does not match" "${play[@]}" --to 127.0.0.1:9 --packet-size 204
expect 2 "--position 900 is outside --range 500:700" "${play[@]}" --to 127.0.0.1:9 --range 500:700 --position 900
expect 2 "no transport stream packets found" "$cli" play "$work/text.ts" --to 127.0.0.1:9
# 198.51.100.77 is no address of this machine: the system cannot send a group from it.
expect 1 $'can not start the play on this device.' "${play[@]}" --to 239.1.2.3:5000 --interface 198.51.100.77
grep -qx "Cannot assign requested address." "$work/err" || { cat "$work/err" >&2; exit 1; }
expect 2 'bad --pacing "fast": expected auto, uring, txtime, thread or burst' "${play[@]}" --to 127.0.0.1:9 --pacing fast
# Loopback's qdisc honours no departure times: the start says so and which pacing plays instead.
timeout 20 "$cli" play "$work/good.ts" --to 127.0.0.1:9 --pacing txtime >"$work/out" 2>"$work/err" || true
grep -qE '^Playing .*, (uring|thread) pacing$' "$work/out" || { cat "$work/out" "$work/err" >&2; exit 1; }
grep -qF 'Pacing: no departure-time pacing: lo has qdisc noqueue, not fq or etf' "$work/out" || { cat "$work/out" >&2; exit 1; }
timeout 20 "$cli" play "$work/good.ts" --to 127.0.0.1:9 --burst >"$work/out" 2>"$work/err" || true
grep -qE '^Playing .*, burst pacing$' "$work/out" || { cat "$work/out" "$work/err" >&2; exit 1; }
# Protection: FEC needs RTP and a valid matrix, the impairment text is checked, at most four outputs.
expect 2 "--fec needs --rtp" "${play[@]}" --to 127.0.0.1:9 --fec 5,5
expect 2 'bad --fec "30,5": L must be 1-20 (columns), not 30' "${play[@]}" --to 127.0.0.1:9 --rtp --fec 30,5
expect 2 'bad --fec "20,6": L x D must be at most 100, not 120' "${play[@]}" --to 127.0.0.1:9 --rtp --fec 20,6
expect 2 'bad --fec-mode "rows": expected column or row+column' "${play[@]}" --to 127.0.0.1:9 --rtp --fec 5,5 \
    --fec-mode rows
expect 2 "--fec-mode needs --fec L,D" "${play[@]}" --to 127.0.0.1:9 --rtp --fec-mode column
expect 2 "the FEC ports (port + 2, + 4) would be above 65535" "${play[@]}" --to 127.0.0.1:65534 --rtp --fec 5,5
expect 2 'bad --impair "lose=3"' "${play[@]}" --to 127.0.0.1:9 --impair lose=3
expect 2 'bad destination "127.0.0.1"' "${play[@]}" --to 127.0.0.1:9 --to 127.0.0.1
expect 2 "at most 4 --to destinations" "${play[@]}" --to 127.0.0.1:9 --to 127.0.0.1:10 --to 127.0.0.1:11 \
    --to 127.0.0.1:12 --to 127.0.0.1:13
# Kernel-timed pacing gives way to the thread with FEC, and says why.
timeout 20 "$cli" play "$work/good.ts" --to 127.0.0.1:9 --rtp --fec 4,4 --pacing uring >"$work/out" 2>"$work/err" || true
grep -qE '^Playing .*, thread pacing$' "$work/out" || { cat "$work/out" "$work/err" >&2; exit 1; }
grep -qF 'Pacing: no uring pacing: FEC, impairment and a second output are paced by the play-out thread' "$work/out" ||
    { cat "$work/out" >&2; exit 1; }
echo "refusals and start failures as expected"
