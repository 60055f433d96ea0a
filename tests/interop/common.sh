# Shared by the interoperability tests (sourced). Every peer tool must be there:
# a missing one fails the test with the package to install, nothing is skipped.
# All traffic goes to 127.0.0.1; each test has its own ports.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cli="${1:?usage: $0 ORVANE-CLI}"
work=$(mktemp -d "${TMPDIR:-/tmp}/orvane-interop.XXXXXX")
pids=()

cleanup()
{
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

fail()
{
    echo "interop: FAILED: $*" >&2
    exit 1
}

# need TOOL PACKAGE
need()
{
    command -v "$1" >/dev/null ||
        fail "$1 is not installed (Debian package $2; scripts/install-deps.sh installs it)"
}

# Waits (bounded, up to 5 s) until something listens on UDP port $1 (IPv4 or dual-stack IPv6).
wait_udp_listener()
{
    local i
    for i in $(seq 50); do
        if grep -q ":$(printf '%04X' "$1") " /proc/net/udp /proc/net/udp6; then
            return 0
        fi
        sleep 0.1
    done
    fail "nothing listens on UDP port $1 after 5 s"
}

# Waits up to $2 seconds for process $1 to end; fails when it does not.
wait_pid()
{
    local i
    for i in $(seq $(($2 * 10))); do
        kill -0 "$1" 2>/dev/null || { wait "$1" 2>/dev/null || true; return 0; }
        sleep 0.1
    done
    fail "process $1 still runs after $2 s"
}

# Stops an `orvane-cli record` cleanly (SIGTERM writes out what was received)
# and returns its exit status.
stop_record()
{
    local status=0
    kill -TERM "$1"
    wait "$1" || status=$?
    return "$status"
}

# A short two-program stream of our own generator.
generate()
{
    "$cli" generate "$1" --programs 2 --rate "${2:-4000000}" --duration "${3:-3}" >/dev/null
}

# encode OUT SECONDS: a real MPEG-2 video + MPEG-1 audio stream, CBR with null
# packets, encoded by ffmpeg from its own test sources. Our generator's
# elementary streams are a pseudo-random pattern that ffmpeg cannot remux or decode.
encode()
{
    ffmpeg -nostdin -v error -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i sine=frequency=1000:sample_rate=48000 \
        -t "$2" -c:v mpeg2video -b:v 1500k -c:a mp2 -b:a 128k -f mpegts -muxrate 2500000 -fflags +bitexact "$1" ||
        fail "ffmpeg could not encode the test stream"
}
