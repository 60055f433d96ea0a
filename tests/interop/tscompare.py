#!/usr/bin/env python3
"""Compares a recorded transport stream with its reference, packet by packet.

    tscompare.py REFERENCE RECORDED [--packet-size 188]

"Complete" here means: every non-null packet of REFERENCE arrives in RECORDED,
unchanged and in the same order, and RECORDED holds nothing else but null packets.
That is what a receiver owes a sender when no datagram is lost; null packets are
left out because a sender may stuff or drop them. Exits 1 with the first
difference, the per-PID counts and the continuity errors when it does not hold.
"""
import argparse
import collections
import sys

NULL_PID = 0x1FFF


def packets(path, size):
    with open(path, "rb") as f:
        data = f.read()
    if len(data) % size:
        sys.exit(f"tscompare: {path}: {len(data)} bytes is not a whole number of {size}-byte packets")
    for offset in range(0, len(data), size):
        packet = data[offset:offset + size]
        if packet[0] != 0x47:
            sys.exit(f"tscompare: {path}: no sync byte at offset {offset}")
        yield packet


def pid_of(packet):
    return ((packet[1] & 0x1F) << 8) | packet[2]


def cc_errors(stream):
    """Continuity counter jumps of packets that carry a payload (duplicates allowed once)."""
    last = {}
    errors = 0
    for packet in stream:
        pid = pid_of(packet)
        if pid == NULL_PID or not packet[3] & 0x10:
            continue
        cc = packet[3] & 0x0F
        if pid in last and cc not in (last[pid], (last[pid] + 1) & 0x0F):
            errors += 1
        last[pid] = cc
    return errors


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("reference")
    parser.add_argument("recorded")
    parser.add_argument("--packet-size", type=int, default=188)
    args = parser.parse_args()

    ref = [p for p in packets(args.reference, args.packet_size) if pid_of(p) != NULL_PID]
    rec = [p for p in packets(args.recorded, args.packet_size) if pid_of(p) != NULL_PID]
    ref_pids = collections.Counter(pid_of(p) for p in ref)
    rec_pids = collections.Counter(pid_of(p) for p in rec)
    report = (f"reference {len(ref)} non-null packets on {len(ref_pids)} PIDs, CC errors {cc_errors(ref)}; "
              f"recorded {len(rec)} on {len(rec_pids)} PIDs, CC errors {cc_errors(rec)}")
    for index, (a, b) in enumerate(zip(ref, rec)):
        if a != b:
            print(f"tscompare: FAILED: non-null packet {index} differs (PID 0x{pid_of(a):04x} expected, "
                  f"0x{pid_of(b):04x} recorded); {report}", file=sys.stderr)
            for pid in sorted(set(ref_pids) | set(rec_pids)):
                if ref_pids[pid] != rec_pids[pid]:
                    print(f"  PID 0x{pid:04x}: {ref_pids[pid]} sent, {rec_pids[pid]} recorded", file=sys.stderr)
            return 1
    if len(ref) != len(rec):
        print(f"tscompare: FAILED: {len(ref)} non-null packets sent, {len(rec)} recorded; {report}", file=sys.stderr)
        return 1
    if not ref:
        print("tscompare: FAILED: the reference holds no packets", file=sys.stderr)
        return 1
    print(f"tscompare: complete: {report}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
