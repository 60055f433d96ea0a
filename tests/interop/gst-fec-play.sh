#!/usr/bin/env bash
# GStreamer's SMPTE 2022-1 decoder (rtpst2022-1-fecdec, gst-plugins-bad)
# rebuilds what `orvane-cli play --rtp --fec 5,5 --fec-mode row+column` lost on
# purpose (--impair burst=1/36): one datagram in every 36 on the wire (media,
# row and column FEC of a matrix are 35), so each row has at most one loss and
# its row FEC, 6 datagrams on at most, is never lost: every loss is
# recoverable in one pass. The first datagram lost is null stuffing of the
# play's start. The pipeline depayloads into a file that must hold every
# non-null packet of the source, in order (tscompare.py). A second play with
# the same seed into `orvane-cli record --rtp` without FEC shows the loss was
# real.
# Usage: gst-fec-play.sh ORVANE-CLI
source "$(dirname "$0")/common.sh"
need gst-launch-1.0 gstreamer1.0-tools
need gst-inspect-1.0 gstreamer1.0-tools
gst-inspect-1.0 rtpst2022-1-fecdec >/dev/null 2>&1 ||
    fail "GStreamer has no rtpst2022-1-fecdec (Debian package gstreamer1.0-plugins-bad)"
port=24652 # and 24654 (column FEC), 24656 (row FEC)
generate "$work/gen.ts" 4000000 3
impair=(--impair burst=1/36 --impair-seed 1)

caps="application/x-rtp,media=video,clock-rate=90000,encoding-name=MP2T,payload=33"
gst-launch-1.0 -e rtpst2022-1-fecdec name=dec size-time=1000000000 ! rtpjitterbuffer latency=300 ! \
    rtpmp2tdepay ! filesink location="$work/gst.ts" \
    udpsrc address=127.0.0.1 port=$port buffer-size=4194304 caps="$caps" ! dec.sink \
    udpsrc address=127.0.0.1 port=$((port + 2)) buffer-size=4194304 caps=application/x-rtp ! dec.fec_0 \
    udpsrc address=127.0.0.1 port=$((port + 4)) buffer-size=4194304 caps=application/x-rtp ! dec.fec_1 \
    >"$work/gst.log" 2>&1 &
gst_pid=$!
pids+=("$gst_pid")
for p in "$port" $((port + 2)) $((port + 4)); do wait_udp_listener "$p"; done
"$cli" play "$work/gen.ts" --rtp --to "127.0.0.1:$port" --fec 5,5 --fec-mode row+column "${impair[@]}" --quiet \
    >"$work/play.out" 2>&1 || fail "orvane-cli play failed: $(cat "$work/play.out")"
cat "$work/play.out"
sleep 1
kill -INT "$gst_pid" # -e: end of stream, the jitter buffer and the file are flushed
wait_pid "$gst_pid" 10
[ -s "$work/gst.ts" ] || fail "GStreamer wrote nothing: $(cat "$work/gst.log")"
grep -q '^FEC: .* [1-9][0-9.]* column and [1-9][0-9.]* row FEC datagrams' "$work/play.out" ||
    fail "the play's summary shows no column and row FEC"
grep -q '^Impairment: [1-9][0-9]* datagrams lost on purpose' "$work/play.out" ||
    fail "the play's summary does not tell what the impairment lost"
python3 "$here/tscompare.py" "$work/gen.ts" "$work/gst.ts" || fail "GStreamer's output misses packets"

# The same impaired play without FEC at the receiver: datagrams are missing.
"$cli" record --rtp --port "$port" --out "$work/rec.ts" --quiet 2>"$work/record.err" &
rec_pid=$!
pids+=("$rec_pid")
wait_udp_listener "$port"
"$cli" play "$work/gen.ts" --rtp --to "127.0.0.1:$port" "${impair[@]}" --quiet >/dev/null ||
    fail "orvane-cli play without FEC failed"
sleep 0.5
stop_record "$rec_pid" || true
cat "$work/record.err"
grep -q ' [1-9][0-9]* missing' "$work/record.err" || fail "without FEC the impaired play lost nothing"
echo "interop: GStreamer rebuilt every datagram orvane-cli play lost on purpose, from its FEC"
