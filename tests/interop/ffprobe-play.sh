#!/usr/bin/env bash
# ffprobe reads what `orvane-cli play` sends, over plain UDP and over RTP.
# Two streams, each probed live (ffprobe listens first, its -timeout ends it if
# nothing comes, then we play in a loop until ffprobe has done):
# - our generator's two-program stream: both programs and all four streams are
#   found with their PIDs, and the transport layers (UDP, RTP, the mpegts
#   demuxer) report no error. The generator fills the elementary streams with a
#   pseudo-random pattern, so the audio/video decoders' complaints about it are
#   not looked at;
# - a real MPEG-2 video + MPEG-1 audio stream that ffmpeg encodes here: ffprobe
#   prints nothing at all at -v error, decoders included.
# Usage: ffprobe-play.sh ORVANE-CLI
source "$(dirname "$0")/common.sh"
need ffprobe ffmpeg
need ffmpeg ffmpeg
generate "$work/gen.ts" 4000000 3
encode "$work/real.ts" 3

# probe NAME FILE MODE PORT
probe()
{
    local name=$1 file=$2 mode=$3 port=$4
    local out="$work/probe-$name-$mode.json" err="$work/probe-$name-$mode.err"
    ffprobe -v error -probesize 500000 -analyzeduration 1000000 -show_programs -show_streams -of json \
        -i "$mode://127.0.0.1:$port?timeout=10000000" >"$out" 2>"$err" &
    local probe_pid=$!
    pids+=("$probe_pid")
    wait_udp_listener "$port"
    local rtp_flag=()
    [ "$mode" = rtp ] && rtp_flag=(--rtp)
    # Looped, so that ffprobe ends on its probe limits and never at the end of the data.
    timeout 30 "$cli" play "$work/$file" --to "127.0.0.1:$port" "${rtp_flag[@]}" --loop >/dev/null 2>"$work/play.err" &
    local play_pid=$!
    pids+=("$play_pid")
    wait_pid "$probe_pid" 20
    kill -0 "$play_pid" 2>/dev/null || fail "orvane-cli play $file ($mode) ended early: $(cat "$work/play.err")"
    # SIGTERM is play's clean stop: status 0.
    local status=0
    kill -TERM "$play_pid"
    wait "$play_pid" || status=$?
    [ "$status" -eq 0 ] || fail "orvane-cli play $file ($mode) ended with status $status: $(cat "$work/play.err")"
    python3 - "$out" "$err" "$name" "$mode" <<'PY' || fail "ffprobe ($name over $mode) did not read the stream cleanly"
import json, re, sys
out, err, name, mode = sys.argv[1:]
info = json.load(open(out))
programs = info.get("programs", [])
streams = info.get("streams", [])
# Over RTP ffmpeg's depacketiser does not give the PIDs of the streams; the programs keep theirs.
print(f"ffprobe ({name} over {mode}): programs with PCR PIDs "
      + ", ".join(f"0x{p.get('pcr_pid', 0):x}" for p in programs) + "; streams "
      + ", ".join(f"{s.get('id', '-')} {s.get('codec_name')}" for s in streams), flush=True)
lines = [l for l in open(err).read().splitlines() if l.strip()]
if name == "generated":
    # Only the transport's own messages: untagged lines or the demuxer's and protocols'.
    decoders = re.compile(r"^\[(aac|mp3float|mp2float|h264|hevc|mpeg2video|mpeg1video|ac3|extract_extradata)\b")
    lines = [l for l in lines if not decoders.match(l) and not l.startswith("    Last message repeated")]
    assert len(programs) == 2, "expected the 2 generated programs"
    assert sorted(p.get("pcr_pid") for p in programs) == [0x101, 0x105], "programs not found"
    assert sorted(s.get("codec_name") for s in streams) == ["aac", "h264", "mp3", "mpeg2video"], "streams not found"
else:
    assert len(programs) == 1 and programs[0].get("streams"), "the program was not found"
    assert sorted(s.get("codec_name") for s in streams) == ["mp2", "mpeg2video"], "streams not found"
for l in lines[:20]:
    print("  ffprobe:", l)
assert not lines, "ffprobe printed errors"
PY
}

probe generated gen.ts udp 24610
probe real real.ts udp 24610
# RTP takes the even port and the next one for RTCP.
probe generated gen.ts rtp 24612
probe real real.ts rtp 24612
echo "interop: ffprobe read orvane-cli's UDP and RTP streams without errors"
