#!/usr/bin/env bash
# Black-box: `orvane-cli play --range` shows where the play is in the file, as
# the Play tab does: position per mille of the file and Ts time of the file,
# not of the range. Loopback only: nobody needs to listen on the port.
set -euo pipefail
cli=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
port=$((20000 + $$ % 20000))
# 20 s at 2 Mbit/s; the range 500..700 is 4 s of it, from 0:00:10 to 0:00:14.
"$cli" generate "$work/range.ts" --rate 2000000 --duration 20 >/dev/null
timeout 30 "$cli" play "$work/range.ts" --to "127.0.0.1:$port" --range 500:700 >"$work/out.txt"
cat "$work/out.txt"
lines=$(grep -c '^elapsed' "$work/out.txt")
[ "$lines" -ge 2 ] || { echo "expected status lines" >&2; exit 1; }
grep '^elapsed' "$work/out.txt" | while read -r _ _ _ ts _ position _; do
    p=${position%/1000}
    if [ "$p" -lt 500 ] || [ "$p" -gt 700 ]; then echo "position $position outside the range" >&2; exit 1; fi
    case $ts in 0:00:1[0-4]) ;; *) echo "ts $ts outside 0:00:10..0:00:14" >&2; exit 1 ;; esac
done
grep -q '^Finished after 0:00:0[3-9]' "$work/out.txt"

# --quiet (the services' way): the start and end lines only, no status line each second.
timeout 30 "$cli" play "$work/range.ts" --to "127.0.0.1:$port" --range 650:700 --quiet >"$work/quiet.txt"
cat "$work/quiet.txt"
if grep -q '^elapsed' "$work/quiet.txt"; then echo "--quiet printed status lines" >&2; exit 1; fi
grep -q '^Finished after' "$work/quiet.txt"
