#!/usr/bin/env bash
# Copy next to the playout harness (measure.sh, rx, refplay, streams/) and run it there.
# Highest loss-free rate: orvane-cli plays a 1.28 GB file from disk (4 x cbr_80M.ts) at a forced
# bit rate for about 10 s, RTP, smooth pacing; rx measures against that rate.
set -uo pipefail
cd "$(dirname "$0")"
CLI=${CLI:?set CLI to the orvane-cli binary, e.g. CLI=$REPO/build/default/tools/orvane-cli}
OUT=${OUT:-$PWD/results/runs/orvane-maxrate}
mkdir -p "$OUT"
BIG=streams/big_4x80M.ts
[ -s "$BIG" ] || { cat streams/cbr_80M.ts streams/cbr_80M.ts streams/cbr_80M.ts streams/cbr_80M.ts > "$BIG"; sync; }
SIZE=$(stat -c %s "$BIG")
for R in ${RATES:-200000000 500000000 1000000000}; do
  # range end: about 10.5 s of stream at R
  END=$(awk -v r="$R" -v s="$SIZE" 'BEGIN{e=int(r*10.5/8/s*1000)+1; if(e>1000)e=1000; print e}')
  echo "== $R bit/s range 0:$END load=$(cut -d' ' -f1 /proc/loadavg)" >&2
  ./measure.sh -l "orvane-smooth-rtp-$((R/1000000))M" -o "$OUT" -T 20 \
    "$CLI play {file} --to {addr} --rtp --bitrate $R --range 0:$END" "$BIG" "$R" >> "$OUT/all.kv"
  tail -1 "$OUT/all.kv" | tr ' ' '\n' | grep -E '^(player_rc|rate_err_pct|datagrams|rtp_lost|rtp_reorder|rx_drops|df_mean_ms|df_max_ms|burst100us_max|cpu_user_s|cpu_sys_s|wall_s)=' | tr '\n' ' ' >&2; echo >&2
  grep -c "Underflow" "$OUT"/*"$((R/1000000))M"*.player.log | tail -1 >&2
  sleep 1
done
