#!/usr/bin/env bash
# ffmpeg reads what `orvane-cli play --to srt://` sends (orvane-cli listens,
# ffmpeg calls and copies the stream into a file). The source is a real
# audio/video stream that ffmpeg encodes here (common.sh: encode); ffmpeg
# remuxes what it reads, so the reference is what the same ffmpeg command
# makes of the source file: every non-null packet of it must be in ffmpeg's
# recording of the SRT stream, in order (tscompare.py).
# An ffmpeg built without libsrt cannot take part: the test says so and is
# skipped (status 77), never passed silently.
# Usage: ffmpeg-srt-play.sh ORVANE-CLI
source "$(dirname "$0")/common.sh"
need ffmpeg ffmpeg
if ! ffmpeg -hide_banner -protocols 2>/dev/null | grep -qx '  *srt'; then
    echo "interop: SKIPPED: this ffmpeg was built without libsrt (ffmpeg -protocols lists no srt)" >&2
    exit 77
fi
port=24720
encode "$work/real.ts" 3
mux=(-fflags +bitexact -c copy -f mpegts)
ffmpeg -nostdin -v error -i "$work/real.ts" "${mux[@]}" "$work/reference.ts" || fail "ffmpeg could not remux the stream"

timeout 30 "$cli" play "$work/real.ts" --to "srt://:$port" --quiet >"$work/play.out" 2>&1 &
play_pid=$!
pids+=("$play_pid")
wait_udp_listener "$port"
# The play's end closes the connection: ffmpeg's input ends there (it notes an I/O error and ends well).
timeout 30 ffmpeg -nostdin -v error -i "srt://127.0.0.1:$port?mode=caller" "${mux[@]}" "$work/ffmpeg.ts" \
    2>"$work/ffmpeg.err" || fail "ffmpeg could not read the SRT stream: $(cat "$work/ffmpeg.err")"
wait "$play_pid" || fail "orvane-cli play failed: $(cat "$work/play.out")"
cat "$work/ffmpeg.err"
python3 "$here/tscompare.py" "$work/reference.ts" "$work/ffmpeg.ts" || fail "ffmpeg did not get the whole stream"
echo "interop: ffmpeg read orvane-cli's SRT play completely"
