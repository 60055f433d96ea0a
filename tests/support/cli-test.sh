# Shared by the orvane-cli shell tests: `source` it with the orvane-cli binary as $1.
# Gives $cli, a work folder $work removed at the end (with the processes in $pids),
# and the checks below.
set -euo pipefail
cli=$(realpath "$1")
work=$(mktemp -d)
pids=()
cleanup()
{
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

fail()
{
    echo "$(basename "$0"): FAILED: $*" >&2
    exit 1
}

# expect STATUS TEXT COMMAND ARGS...: the command ends with STATUS and says TEXT on stderr.
expect()
{
    local want=$1 text=$2 status=0
    shift 2
    timeout 20 "$@" >"$work/out" 2>"$work/err" || status=$?
    if [ "$status" -ne "$want" ] || ! grep -qF -- "$text" "$work/err"; then
        echo "$*: status $status (want $want), stderr:" >&2
        cat "$work/err" >&2
        exit 1
    fi
}

# Waits (bounded) until something listens on UDP port $1.
wait_listener()
{
    for _ in $(seq 100); do
        grep -q ":$(printf '%04X' "$1") " /proc/net/udp /proc/net/udp6 && return 0
        sleep 0.05
    done
    fail "nothing listens on port $1"
}
