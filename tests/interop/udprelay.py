#!/usr/bin/env python3
"""Relays an RTP stream with SMPTE 2022-1 FEC and drops what the FEC can rebuild.

    udprelay.py IN-PORT OUT-PORT SECONDS MATRICES REFERENCE.ts STATS

Listens on 127.0.0.1 IN-PORT (media), +2 (column FEC) and +4 (row FEC) and sends
each datagram on to OUT-PORT, +2, +4. The matrix is 5 x 5 and starts at the
first media datagram (checked against every FEC datagram's SNBase). In matrix k
one media datagram is dropped, at position (7k + 3) mod 25, so the position
walks over every row and column; in odd matrices the row FEC of that row is
dropped too, so only the column FEC can rebuild it. Only the first MATRICES
matrices lose anything: the last ones, which the sender may never complete, do
not. Decisions go by sequence number alone, so a run repeats whatever order the
three streams arrive in (FEC often comes before its media). REFERENCE gets every media payload as received, before
dropping, in sequence number order. STATS gets "dropped N row-fec-dropped R
column-fec C row-fec W misaligned M". Ends after SECONDS, or 1 s after the last
datagram once data came.
"""
import select
import socket
import struct
import sys
import time

L, D = 5, 5
in_port, out_port = int(sys.argv[1]), int(sys.argv[2])
seconds, matrices = float(sys.argv[3]), int(sys.argv[4])
reference_path, stats_path = sys.argv[5], sys.argv[6]

inputs = {}
for offset in (0, 2, 4):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 * 1024 * 1024)
    sock.bind(("127.0.0.1", in_port + offset))
    inputs[sock] = offset
out = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)

first_seq = None
last_ext = None
payloads = {}
stats = {"dropped": 0, "row-fec-dropped": 0, "column-fec": 0, "row-fec": 0, "misaligned": 0}


def extend(seq):
    """Sequence number counted from the first media datagram, across 16-bit wraps."""
    global last_ext
    if last_ext is None:
        last_ext = 0
        return 0
    delta = (seq - (first_seq + last_ext)) & 0xFFFF
    if delta >= 0x8000:
        delta -= 0x10000
    ext = last_ext + delta
    last_ext = max(last_ext, ext)
    return ext


def drop_index(k):
    """The media datagram dropped in matrix k, counted from the first."""
    return k * L * D + (7 * k + 3) % (L * D)


def drops_row_fec(base):
    """Whether the row FEC starting at media datagram `base` is dropped."""
    k = base // (L * D)
    return k < matrices and k % 2 == 1 and drop_index(k) // L * L == base


end = time.monotonic() + seconds
last = None
while time.monotonic() < end and (last is None or time.monotonic() - last < 1.0):
    ready, _, _ = select.select(list(inputs), [], [], 0.2)
    for sock in ready:
        data = sock.recv(65535)
        last = time.monotonic()
        offset = inputs[sock]
        if offset == 0:
            if len(data) < 12 or data[0] >> 6 != 2:
                sys.exit("udprelay: a media datagram that is not RTP")
            seq = struct.unpack("!H", data[2:4])[0]
            if first_seq is None:
                first_seq = seq
            ext = extend(seq)
            header = 12 + 4 * (data[0] & 0x0F)
            payloads.setdefault(ext, data[header:])
            k = ext // (L * D)
            if k < matrices and ext == drop_index(k):
                stats["dropped"] += 1
                continue
        else:
            stats["column-fec" if offset == 2 else "row-fec"] += 1
            if first_seq is None:
                sys.exit("udprelay: FEC before the first media datagram")
            if len(data) < 28:
                sys.exit("udprelay: a FEC datagram shorter than its headers")
            base = (struct.unpack("!H", data[12:14])[0] - first_seq) & 0xFFFF
            if base % (L * D if offset == 2 else L) >= (L if offset == 2 else 1):
                stats["misaligned"] += 1
            if offset == 4 and drops_row_fec(base):
                stats["row-fec-dropped"] += 1
                continue
        out.sendto(data, ("127.0.0.1", out_port + offset))

with open(reference_path, "wb") as f:
    for ext in sorted(payloads):
        f.write(payloads[ext])
with open(stats_path, "w") as f:
    f.write(" ".join(f"{key} {value}" for key, value in stats.items()) + "\n")
