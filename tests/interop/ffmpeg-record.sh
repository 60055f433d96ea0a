#!/usr/bin/env bash
# `orvane-cli record` records completely what ffmpeg sends over UDP.
# The source is a real audio/video stream that ffmpeg encodes here (common.sh:
# encode); our generator's pseudo-random elementary streams cannot be remuxed.
# ffmpeg remuxes (-c copy into its own mpegts muxer: new PAT/PMT/SDT, its own
# PIDs and PCR cadence), so the source file is not the reference: the reference
# is what the same ffmpeg command writes to a file instead of the socket. The
# muxer's output does not depend on where it goes, so "complete" means every
# non-null packet of that reference arrives, unchanged and in order
# (tests/interop/tscompare.py), with no continuity error.
# Usage: ffmpeg-record.sh ORVANE-CLI
source "$(dirname "$0")/common.sh"
need ffmpeg ffmpeg
port=24620
encode "$work/gen.ts" 4
mux=(-fflags +bitexact -c copy -f mpegts)
ffmpeg -nostdin -v error -i "$work/gen.ts" "${mux[@]}" "$work/reference.ts" || fail "ffmpeg could not remux the stream"

"$cli" record --port "$port" --out "$work/rec.ts" --quiet 2>"$work/record.err" &
rec_pid=$!
pids+=("$rec_pid")
wait_udp_listener "$port"
ffmpeg -nostdin -v error -re -i "$work/gen.ts" "${mux[@]}" "udp://127.0.0.1:$port?pkt_size=1316" ||
    fail "ffmpeg could not send"
sleep 0.5
stop_record "$rec_pid" || fail "orvane-cli record failed: $(cat "$work/record.err")"
cat "$work/record.err"
grep -q ' 0 late or duplicate, 0 invalid, 0 overflow; 0 missing' "$work/record.err" ||
    fail "orvane-cli record dropped datagrams"
python3 "$here/tscompare.py" "$work/reference.ts" "$work/rec.ts"
# Stronger than needed, and true with Debian 12's ffmpeg: the bytes are the same too.
if cmp -s "$work/reference.ts" "$work/rec.ts"; then
    echo "interop: the recording is byte-identical to ffmpeg's file output"
else
    echo "interop: the recording differs from ffmpeg's file output only in null packets"
fi
echo "interop: orvane-cli recorded ffmpeg's UDP stream completely"
