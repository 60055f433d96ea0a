#!/usr/bin/env python3
"""Receives UDP datagrams on 127.0.0.1:PORT and writes them as a pcap file.

    udp2pcap.py PORT OUT.pcap SECONDS

The stand-in for a live capture where the loopback interface cannot be opened
(no capture rights): each datagram becomes one IPv4/UDP frame (link type RAW),
exactly as received, so tshark decodes the same payloads it would have seen on
the wire. Ends after SECONDS, or 1 s after the last datagram once data came.
"""
import socket
import struct
import sys
import time

port, out, seconds = int(sys.argv[1]), sys.argv[2], float(sys.argv[3])
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 * 1024 * 1024)
sock.bind(("127.0.0.1", port))
sock.settimeout(0.2)
frames = []
end = time.monotonic() + seconds
last = None
while time.monotonic() < end and (last is None or time.monotonic() - last < 1.0):
    try:
        data, (host, sport) = sock.recvfrom(65535)
    except socket.timeout:
        continue
    last = time.monotonic()
    frames.append((time.time(), sport, data))


def ipv4_udp(sport, payload):
    udp = struct.pack("!HHHH", sport, port, 8 + len(payload), 0) + payload
    header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0x4000, 64, 17, 0,
                         socket.inet_aton("127.0.0.1"), socket.inet_aton("127.0.0.1"))
    checksum = sum(struct.unpack("!10H", header))
    checksum = (checksum & 0xFFFF) + (checksum >> 16)
    checksum = ~((checksum & 0xFFFF) + (checksum >> 16)) & 0xFFFF
    return header[:10] + struct.pack("!H", checksum) + header[12:] + udp


with open(out, "wb") as f:
    f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 101))  # LINKTYPE_RAW
    for stamp, sport, data in frames:
        frame = ipv4_udp(sport, data)
        f.write(struct.pack("<IIII", int(stamp), int((stamp % 1) * 1e6), len(frame), len(frame)) + frame)
print(f"udp2pcap: {len(frames)} datagrams written to {out}")
