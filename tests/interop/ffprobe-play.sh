#!/usr/bin/env bash
# ffprobe reads what `orvane-cli play` sends, over plain UDP and over RTP: it
# finds both programs and their streams and reports no error. ffprobe listens
# first (its -timeout ends it if nothing comes), then we play.
# Usage: ffprobe-play.sh ORVANE-CLI
source "$(dirname "$0")/common.sh"
need ffprobe ffmpeg
generate "$work/gen.ts" 4000000 4

# probe MODE PORT URL
probe()
{
    local mode=$1 port=$2 url=$3 out="$work/probe-$1.json" err="$work/probe-$1.err"
    ffprobe -v error -probesize 2000000 -analyzeduration 2000000 -show_programs -show_streams -of json \
        -i "$url" >"$out" 2>"$err" &
    local probe_pid=$!
    pids+=("$probe_pid")
    wait_udp_listener "$port"
    local rtp_flag=()
    [ "$mode" = rtp ] && rtp_flag=(--rtp)
    "$cli" play "$work/gen.ts" --to "127.0.0.1:$port" "${rtp_flag[@]}" >/dev/null 2>"$work/play-$mode.err" ||
        fail "orvane-cli play ($mode) failed: $(cat "$work/play-$mode.err")"
    wait_pid "$probe_pid" 15
    if [ -s "$err" ]; then
        cat "$err" >&2
        fail "ffprobe ($mode) printed errors"
    fi
    python3 - "$out" "$mode" <<'PY' || fail "ffprobe ($mode) did not find the programs and streams"
import json, sys
info = json.load(open(sys.argv[1]))
programs = info.get("programs", [])
streams = info.get("streams", [])
print(f"ffprobe ({sys.argv[2]}): {len(programs)} programs, {len(streams)} streams: "
      + ", ".join(f"{s.get('codec_type')}/{s.get('codec_name')} 0x{int(s.get('id', '0'), 16):x}" for s in streams))
assert len(programs) == 2, "expected the 2 generated programs"
assert all(p.get("streams") for p in programs), "a program without streams"
assert len(streams) >= 2
PY
}

probe udp 24610 "udp://127.0.0.1:24610?timeout=10000000"
# RTP uses the even port and the next one for RTCP.
probe rtp 24612 "rtp://127.0.0.1:24612?timeout=10000000"
echo "interop: ffprobe read orvane-cli's UDP and RTP streams without errors"
