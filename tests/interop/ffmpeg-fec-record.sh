#!/usr/bin/env bash
# `orvane-cli record --rtp --fec` rebuilds, from FFmpeg's SMPTE 2022-1 FEC
# (prompeg, 5 x 5, column + row), every datagram a relay drops when each loss is
# recoverable. tests/interop/udprelay.py sits between FFmpeg and Orvane on the
# media port, +2 and +4: one media datagram per matrix at a walking position,
# and in every other matrix the row FEC of that row as well, so both row and
# column FEC are used. The stream is a real one (common.sh: encode), because
# ffmpeg cannot remux our generator's pseudo-random elementary streams; ffmpeg
# sends it CBR at 2.5 Mb/s (muxrate, as IPTV does: without it the easy test
# pattern comes out at about 0.5 Mb/s, too few matrices to test anything).
# The reference is what the relay received before dropping (media payloads in
# sequence number order), not the source file nor a file written by ffmpeg:
# rtp_mpegts remuxes (its own PAT/PMT, PIDs, PCR cadence) and its output is not
# guaranteed to equal a separate mpegts run. The relay's copy is exactly what a
# lossless link would have brought, so the recording must equal it byte for
# byte; tscompare.py names the first difference when it does not. The summary
# must count as recovered exactly what the relay dropped, nothing unrecoverable.
# Usage: ffmpeg-fec-record.sh ORVANE-CLI
source "$(dirname "$0")/common.sh"
need ffmpeg ffmpeg
relay_port=24614 # and 24616, 24618 (24615: ffmpeg's RTCP, unused)
port=24644       # and 24646, 24648
matrices=30      # of about 37 in 4 s at 2.5 Mb/s (7 TS packets a datagram)
encode "$work/gen.ts" 4

"$cli" record --rtp --fec --port "$port" --out "$work/rec.ts" --quiet 2>"$work/record.err" &
rec_pid=$!
pids+=("$rec_pid")
for p in "$port" $((port + 2)) $((port + 4)); do wait_udp_listener "$p"; done
python3 "$here/udprelay.py" "$relay_port" "$port" 30 "$matrices" "$work/reference.ts" "$work/relay.stats" &
relay_pid=$!
pids+=("$relay_pid")
for p in "$relay_port" $((relay_port + 2)) $((relay_port + 4)); do wait_udp_listener "$p"; done
ffmpeg -nostdin -v error -re -i "$work/gen.ts" -c copy -f rtp_mpegts -mpegts_muxer_options muxrate=2500000 \
    -fec prompeg=l=5:d=5 "rtp://127.0.0.1:$relay_port" || fail "ffmpeg could not send with FEC"
wait "$relay_pid" || fail "the relay failed"
sleep 0.5
stop_record "$rec_pid" || fail "orvane-cli record failed: $(cat "$work/record.err")"
cat "$work/record.err"
read -r _ dropped _ row_dropped _ column_fec _ row_fec _ misaligned <"$work/relay.stats"
echo "interop: relay dropped $dropped media datagrams and $row_dropped row FEC datagrams" \
    "(forwarded $column_fec column and $row_fec row FEC datagrams)"
[ "$misaligned" = 0 ] || fail "$misaligned FEC datagrams do not start where the relay's matrices start"
[ "$dropped" = "$matrices" ] && [ "$row_dropped" = $((matrices / 2)) ] ||
    fail "the relay dropped less than planned: ffmpeg sent fewer datagrams than expected"
[ "$column_fec" -gt 0 ] && [ "$row_fec" -gt 0 ] || fail "ffmpeg sent no column or no row FEC"
grep -q ' 0 late or duplicate, 0 invalid, 0 overflow; 0 missing' "$work/record.err" ||
    fail "orvane-cli record lost or refused datagrams"
grep -q " $dropped recovered, 0 unrecoverable" "$work/record.err" ||
    fail "orvane-cli did not report $dropped recovered and 0 unrecoverable"
python3 "$here/tscompare.py" "$work/reference.ts" "$work/rec.ts"
cmp "$work/reference.ts" "$work/rec.ts" || fail "the recording differs from what the relay received"
echo "interop: orvane-cli rebuilt every datagram dropped from ffmpeg's FEC-protected stream"
