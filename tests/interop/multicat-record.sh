#!/usr/bin/env bash
# `orvane-cli record` records what multicat sends, byte for byte: multicat
# sends the file's packets unchanged (seven per datagram, paced by the .aux file
# that `ingests` writes from the PCRs), over plain UDP (-U) and over RTP. Its
# last datagram is filled up with null packets, which the recording keeps.
# Usage: multicat-record.sh ORVANE-CLI
source "$(dirname "$0")/common.sh"
need multicat multicat
need ingests multicat
generate "$work/gen.ts" 4000000 3
# ingests needs the PCR PID: the first program's, from our own analysis.
pcr_pid=$("$cli" analyze --json "$work/gen.ts" | python3 -c '
import json, sys

def find(node):
    if isinstance(node, dict):
        if node.get("key") == "pcrPid":
            return node.get("value")
        node = list(node.values())
    if isinstance(node, list):
        for item in node:
            found = find(item)
            if found is not None:
                return found
    return None

pid = find(json.load(sys.stdin))
if pid is None:
    sys.exit("no PCR PID in the analysis")
print(pid)
') || fail "no PCR PID found in orvane-cli analyze --json"
(cd "$work" && ingests -p "$pcr_pid" gen.ts) >/dev/null 2>&1 || fail "ingests failed on the generated stream"
[ -s "$work/gen.aux" ] || fail "ingests wrote no gen.aux"

# run MODE PORT
run()
{
    local mode=$1 port=$2 rtp_flag=() multicat_flag=(-U)
    [ "$mode" = rtp ] && { rtp_flag=(--rtp); multicat_flag=(); }
    "$cli" record --port "$port" "${rtp_flag[@]}" --out "$work/rec-$mode.ts" --quiet 2>"$work/record-$mode.err" &
    local rec_pid=$!
    pids+=("$rec_pid")
    wait_udp_listener "$port"
    (cd "$work" && timeout 20 multicat "${multicat_flag[@]}" gen.ts "127.0.0.1:$port") >"$work/multicat-$mode.log" 2>&1 ||
        fail "multicat ($mode) failed: $(cat "$work/multicat-$mode.log")"
    sleep 0.5
    stop_record "$rec_pid" || fail "orvane-cli record ($mode) failed: $(cat "$work/record-$mode.err")"
    cat "$work/record-$mode.err"
    grep -q ' 0 late or duplicate, 0 invalid, 0 overflow; 0 missing' "$work/record-$mode.err" ||
        fail "orvane-cli record ($mode) dropped datagrams"
    # multicat fills its last datagram up to seven packets with null packets:
    # the recording is the file, byte for byte, then at most six null packets.
    python3 - "$work/gen.ts" "$work/rec-$mode.ts" <<'PY' ||
import sys
sent, recorded = (open(name, "rb").read() for name in sys.argv[1:])
tail = recorded[len(sent):]
null = bytes([0x47, 0x1F, 0xFF])
if recorded[:len(sent)] != sent:
    sys.exit(f"the first {len(sent)} bytes differ from the file sent ({len(recorded)} bytes recorded)")
if len(tail) % 188 or len(tail) // 188 > 6 or any(tail[i:i + 3] != null for i in range(0, len(tail), 188)):
    sys.exit(f"{len(tail)} bytes after the file that are not multicat's null padding")
print(f"recorded: the {len(sent)} bytes of the file, then {len(tail) // 188} null packet(s) of padding")
PY
        { python3 "$here/tscompare.py" "$work/gen.ts" "$work/rec-$mode.ts" || true
          fail "the $mode recording differs from the file multicat sent"; }
    echo "interop: multicat $mode: $(stat -c %s "$work/rec-$mode.ts") bytes recorded, the file sent byte for byte"
}

run udp 24630
run rtp 24632
