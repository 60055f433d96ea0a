#!/usr/bin/env python3
"""End-to-end test of Orvane through its windows: two processes on loopback.

1. orvane-cli generate writes a two-program stream (PAT, PMT, SDT, TDT, TOT,
   PCR, PES with PTS/DTS).
2. A record driver (orvane-e2e-driver --role record) opens the Record tab's port,
   chooses the output file in the save dialog, sets 1 MiB per file and a ring of
   N files, and presses Record.
3. A play driver (--role play) opens the file on the Play tab through the file
   dialog, sends it to 127.0.0.1 with Loop, PCR, Continuity and TOT/TDT ("Current
   time", through its dialog), and presses Stop once the loop count shows the
   passes.
4. The recorder is stopped (stop file) and the ring files are checked packet by
   packet against the source; see check_recording() for what is compared.

Every process is killed when anything times out; nothing is left behind.
"""

import argparse
import ctypes
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

TS = 188
NULL_PID = 0x1FFF
TIME_PID = 0x14
PCR_CLOCK = 27_000_000

# Stream and ring: 4 passes of a 2 s file at 10 Mbit/s (9.5 MiB sent) go into a
# ring of 7 files of 1 to 1.2 MiB (a file ends at the first 1 MiB block past its
# limit), so the ring turns over and still keeps 2.5 passes: two loop points at least.
RATE = 10_000_000
DURATION_S = 2.0
PROGRAMS = 2
PASSES = 4
RING = 7
MEGABYTES = 1


class Failure(Exception):
    pass


def log(text):
    print(text, flush=True)


# ---------------------------------------------------------------- processes


def kill_with_parent():
    # The drivers must not outlive this script, however it ends.
    try:
        ctypes.CDLL("libc.so.6", use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
    except OSError:
        pass


class Driver:
    def __init__(self, name, command, env):
        self.name = name
        self.lines = []
        self.ready = threading.Event()
        self.process = subprocess.Popen(
            command,
            env=env,
            stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT,
            text=True,
            start_new_session=True,
            preexec_fn=kill_with_parent,
        )
        self.reader = threading.Thread(target=self._read, name=f"{name}-output", daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            line = line.rstrip("\n")
            self.lines.append(line)
            log(f"[{self.name}] {line}")
            if line == "READY":
                self.ready.set()

    def wait(self, timeout):
        try:
            code = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"{self.name} driver did not end within {timeout} s")
        self.reader.join(timeout=5)
        return code

    def kill(self):
        if self.process.poll() is None:
            try:
                os.killpg(self.process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.process.wait(timeout=10)


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def driver_env(work, role):
    env = dict(os.environ)
    for key in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORMTHEME"):
        env.pop(key, None)
    env["QT_QPA_PLATFORM"] = "offscreen"
    for key, sub in (("XDG_CONFIG_HOME", "config"), ("XDG_DATA_HOME", "data"),
                     ("XDG_CACHE_HOME", "cache"), ("XDG_RUNTIME_DIR", "runtime")):
        path = os.path.join(work, role, sub)
        os.makedirs(path, mode=0o700, exist_ok=True)
        env[key] = path
    return env


# ---------------------------------------------------------------- packets


def pid_of(p):
    return ((p[1] & 0x1F) << 8) | p[2]


def payload_start(p):
    afc = (p[3] >> 4) & 3
    if not afc & 1:
        return None
    pos = 5 + p[4] if afc & 2 else 4
    return pos if pos < TS else None


def pcr_of(p):
    if not (p[3] >> 4) & 2 or p[4] < 7 or not p[5] & 0x10:
        return None
    base = (p[6] << 25) | (p[7] << 17) | (p[8] << 9) | (p[9] << 1) | (p[10] >> 7)
    return base * 300 + (((p[10] & 1) << 8) | p[11])


def time_sections(p):
    """(table id, offset of the section, section length) of the whole sections in a PID 0x14 packet."""
    pos = payload_start(p)
    if pos is None or not p[1] & 0x40:
        return []
    s = pos + 1 + p[pos]
    found = []
    while s + 3 <= TS and p[s] != 0xFF:
        length = ((p[s + 1] & 0x0F) << 8) | p[s + 2]
        if s + 3 + length > TS:
            break
        found.append((p[s], s, length))
        s += 3 + length
    return found


def masked(p):
    """The packet with the fields the adaptations own set to zero.

    Zeroed: the continuity counter (restamped; checked on its own), the 6 PCR
    bytes of an adaptation field (restamped; checked on its own), the 5-byte PTS
    and DTS of a PES header (moved with the PCR), the 5-byte UTC time of TDT and
    TOT sections and the TOT's CRC_32 (rewritten; checked on their own).
    Everything else is compared byte for byte: sync byte, flags, PID, scrambling,
    adaptation field control, adaptation field length and flags, every payload
    byte of the elementary streams, PAT, PMT and SDT whole.
    """
    b = bytearray(p)
    b[3] &= 0xF0
    if pcr_of(p) is not None:
        b[6:12] = bytes(6)
    pos = payload_start(p)
    if pos is None:
        return bytes(b)
    if pid_of(p) == TIME_PID:
        for table, s, length in time_sections(p):
            if table in (0x70, 0x73) and length >= 5:
                b[s + 3:s + 8] = bytes(5)
            if table == 0x73 and length >= 9:
                b[s + 3 + length - 4:s + 3 + length] = bytes(4)
    elif p[1] & 0x40 and p[pos:pos + 3] == b"\x00\x00\x01" and pos + 9 <= TS:
        flags = p[pos + 7] >> 6
        if flags & 2 and pos + 14 <= TS:
            b[pos + 9:pos + 14] = bytes(5)
        if flags == 3 and pos + 19 <= TS:
            b[pos + 14:pos + 19] = bytes(5)
    return bytes(b)


def timestamp(p, at):
    """The 33-bit PTS or DTS whose 5 bytes start at offset at."""
    return (((p[at] >> 1) & 7) << 30) | (p[at + 1] << 22) | ((p[at + 2] >> 1) << 15) | (p[at + 3] << 7) | (p[at + 4] >> 1)


def utc_of(section):
    mjd = (section[3] << 8) | section[4]
    bcd = [(v >> 4) * 10 + (v & 0x0F) for v in section[5:8]]
    return (mjd - 40587) * 86400 + bcd[0] * 3600 + bcd[1] * 60 + bcd[2]


def crc32_mpeg(data):
    crc = 0xFFFFFFFF
    for byte in data:
        crc ^= byte << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7) if crc & 0x80000000 else crc << 1
            crc &= 0xFFFFFFFF
    return crc


def split_packets(data, what):
    if len(data) % TS:
        raise Failure(f"{what}: {len(data)} bytes is not a whole number of {TS}-byte packets")
    packets = [data[i:i + TS] for i in range(0, len(data), TS)]
    for n, p in enumerate(packets):
        if p[0] != 0x47:
            raise Failure(f"{what}: packet {n} has no sync byte")
    return packets


# ---------------------------------------------------------------- the check


def ring_files(out, ring):
    """The ring files in writing order, and whether the ring has turned over."""
    stem, ext = os.path.splitext(out)
    paths = [f"{stem}-{i}{ext}" for i in range(ring)]
    present = [os.path.exists(p) for p in paths]
    if all(present):
        # The file written last is the newest; the oldest surviving one follows it.
        newest = max(range(ring), key=lambda i: os.stat(paths[i]).st_mtime_ns)
        files = [(i, paths[i]) for i in ((newest + 1 + k) % ring for k in range(ring))]
        if newest != ring - 1:
            return files, True
        # Index 0 follows the newest either way; a ring that has not turned over still
        # begins with the stuffing burst of the play start.
        with open(paths[0], "rb") as first:
            head = first.read(TS)
        return files, not (len(head) == TS and pid_of(head) == NULL_PID)
    count = present.index(False)
    if any(present[count:]):
        raise Failure("the ring files have a gap: " + ", ".join(
            os.path.basename(p) for p, there in zip(paths, present) if there))
    if count < 4:
        raise Failure(f"only {count} ring files: the ring did not switch several times")
    return [(i, paths[i]) for i in range(count)], False


def check_recording(source_path, out, ring, play_started, play_ended, seconds, wrap, jumps):
    source = [p for p in split_packets(open(source_path, "rb").read(), "source") if pid_of(p) != NULL_PID]
    expected = [masked(p) for p in source]
    n = len(expected)

    files, wrapped = ring_files(out, ring)
    if wrapped != wrap:
        raise Failure("the ring turned over" if wrapped else "the ring did not turn over")
    rec = []  # (ring index, packet number in its file, packet)
    nulls = 0
    sizes = []
    for index, path in files:
        data = open(path, "rb").read()
        sizes.append((index, len(data)))
        for k, p in enumerate(split_packets(data, os.path.basename(path))):
            if pid_of(p) == NULL_PID:
                nulls += 1
            else:
                rec.append((index, k, p))
    log("ring files in order (index: bytes): " + ", ".join(f"{i}: {s}" for i, s in sizes))
    # A limit in seconds is wall-clock time: a file may end empty while nothing arrives.
    limit = MEGABYTES * 1_048_576
    for i, size in sizes[:-1] if not seconds else []:
        if size <= limit:
            raise Failure(f"ring file {i} ended at {size} bytes, before its {limit}-byte limit")
    if len(rec) < 2 * n + 1000:
        raise Failure(f"only {len(rec)} packets recorded; a source pass is {n}")

    # 1. Continuity counters on every PID, across file switches and loop points.
    last = {}
    for index, k, p in rec:
        pid = pid_of(p)
        cc = p[3] & 0x0F
        has_payload = (p[3] >> 4) & 1
        if pid in last:
            want = (last[pid] + 1) % 16 if has_payload else last[pid]
            if cc != want:
                raise Failure(f"continuity error on PID 0x{pid:04X} in ring file {index} packet {k}: "
                              f"{cc} after {last[pid]}")
        last[pid] = cc

    # 2. Every packet of the source in order, none lost, none repeated: the
    #    recording is one stretch of the looped source (one more stretch per jump
    #    of the play position, each starting wherever the jump went).
    got = [masked(p) for _, _, p in rec]
    first = {}
    for i in range(n - 1, -1, -1):
        first.setdefault(expected[i], []).insert(0, i)

    def locate(j):
        run = min(64, len(got) - j)
        for start in first.get(got[j], []):
            if all(got[j + k] == expected[(start + k) % n] for k in range(run)):
                return start
        return None

    stretches = []  # (first recorded packet, its source packet)
    origin = [None] * len(got)  # (source packet, stretch, pass) of each recorded packet
    loops = 0
    j = 0
    while j < len(got):
        start = locate(j)
        if start is None or (stretches and len(stretches) > jumps):
            index, k, p = rec[j]
            where = f"ring file {index} packet {k} (PID 0x{pid_of(p):04X})"
            if not stretches:
                raise Failure(f"{where}: the first recorded packets are not in the source")
            at = (stretches[-1][1] + j - stretches[-1][0]) % n
            hint = f"; the stream goes on at source packet {start}" if start is not None else ""
            raise Failure(f"{where} is not source packet {at}{hint}")
        stretches.append((j, start))
        j0 = j
        while j < len(got) and got[j] == expected[(start + j - j0) % n]:
            if j > j0 and (start + j - j0) % n == 0:
                loops += 1
            origin[j] = ((start + j - j0) % n, len(stretches), loops)
            j += 1
    log(f"{len(got)} packets match the source in order in {len(stretches)} stretch(es) from source packets "
        f"{', '.join(str(st) for _, st in stretches)}; {loops} loop points crossed, {nulls} null packets")
    # A ring that turned over may have overwritten the jump.
    if len(stretches) - 1 > jumps or (not wrapped and len(stretches) - 1 != jumps):
        raise Failure(f"{len(stretches) - 1} jumps in the recording; {jumps} made")
    if not wrapped and stretches[0][1] != 0:
        raise Failure(f"the recording starts at source packet {stretches[0][1]}: the start of the play is lost")
    if loops < 2:
        raise Failure(f"only {loops} loop points in the recording; at least 2 wanted")

    # 3. PCRs restamped: rising on every PCR PID, across loop points, by less than 0.1 s.
    pcrs = {}
    for _, _, p in rec:
        value = pcr_of(p)
        if value is not None:
            pcrs.setdefault(pid_of(p), []).append(value)
    if len(pcrs) != PROGRAMS:
        raise Failure(f"PCRs on {len(pcrs)} PIDs; {PROGRAMS} programs were generated")
    for pid, values in pcrs.items():
        for a, b in zip(values, values[1:]):
            if not 0 < b - a < PCR_CLOCK // 10:
                raise Failure(f"PCR on PID 0x{pid:04X} steps from {a} to {b}")

    # 3b. PTS/DTS moved with the PCR: each keeps its source distance to the PCR before it
    #     on its program's PCR PID (when that PCR was sent in the same pass).
    last_pcr = {}
    checked = 0
    for j, (_, _, p) in enumerate(rec):
        pid = pid_of(p)
        src_index, stretch, pass_no = origin[j]
        if pcr_of(p) is not None:
            last_pcr[pid] = (pcr_of(p) // 300, pcr_of(source[src_index]) // 300, stretch, pass_no)
        pos = payload_start(p)
        if pos is None or not p[1] & 0x40 or p[pos:pos + 3] != b"\x00\x00\x01" or pid < 0x100:
            continue
        pcr_pid = 0x101 + 4 * ((pid - 0x100) // 4)
        if pcr_pid not in last_pcr or last_pcr[pcr_pid][2:] != (stretch, pass_no):
            continue
        rec_pcr, src_pcr, _, _ = last_pcr[pcr_pid]
        src = source[src_index]
        for offset in ((9,) if p[pos + 7] >> 6 == 2 else (9, 14) if p[pos + 7] >> 6 == 3 else ()):
            got_distance = (timestamp(p, pos + offset) - rec_pcr) % (1 << 33)
            want_distance = (timestamp(src, pos + offset) - src_pcr) % (1 << 33)
            if abs(got_distance - want_distance) > 1:
                raise Failure(f"PTS/DTS on PID 0x{pid:04X} is {got_distance} after its PCR, in the source "
                              f"{want_distance} (recorded packet {j}, {'DTS' if offset == 14 else 'PTS'})")
            checked += 1
    if checked == 0:
        raise Failure("no PTS/DTS could be checked")

    # 4. TDT/TOT rewritten: "Current time" from the play start, never backwards, TOT CRC right.
    times = []
    for _, _, p in rec:
        if pid_of(p) != TIME_PID:
            continue
        for table, s, length in time_sections(p):
            section = p[s:s + 3 + length]
            if table in (0x70, 0x73):
                times.append(utc_of(section))
            if table == 0x73 and crc32_mpeg(section) != 0:
                raise Failure("a TOT with a wrong CRC_32")
    if not times:
        raise Failure("no TDT/TOT recorded")
    if any(b < a for a, b in zip(times, times[1:])):
        raise Failure("the TDT/TOT time goes backwards")
    if not play_started - 5 <= times[0] <= times[-1] <= play_ended + 5:
        raise Failure(f"TDT/TOT times {times[0]}..{times[-1]} outside the play {play_started:.0f}..{play_ended:.0f}")
    log(f"PCRs rise on {len(pcrs)} PIDs, {checked} PTS/DTS keep their distance to the PCR, {len(times)} TDT/TOT times rise from {times[0]} to {times[-1]}")


# ---------------------------------------------------------------- the run


def run(args, work):
    source = os.path.join(work, "source.ts")
    out = os.path.join(work, "rec", "capture.ts")
    stop_file = os.path.join(work, "stop")
    os.makedirs(os.path.dirname(out))
    subprocess.run([args.cli, "generate", source, "--programs", str(PROGRAMS), "--rate", str(args.rate),
                    "--duration", str(args.duration)], check=True, timeout=60, stdout=subprocess.DEVNULL)
    port = free_udp_port()
    mode = ["--udp"] if args.mode == "udp" else ["--rtp"]
    log(f"{args.mode.upper()} to 127.0.0.1:{port}, {os.path.getsize(source)} bytes per pass")

    drivers = []
    try:
        recorder = Driver("record", [args.driver, "--role", "record", "--file", out, "--port", str(port),
                                     "--ring", str(args.ring), "--megabytes", str(MEGABYTES), "--seconds",
                                     str(args.seconds), "--stop-file", stop_file,
                                     # it waits for the whole play
                                     "--timeout-ms", str((2 * args.timeout + 60) * 1000)] + mode + args.driver_arg,
                          driver_env(work, "record"))
        drivers.append(recorder)
        deadline = time.monotonic() + args.timeout
        while not recorder.ready.wait(timeout=0.2):
            if recorder.process.poll() is not None:
                raise Failure("the recorder ended before it recorded")
            if time.monotonic() > deadline:
                raise Failure("the recorder did not start recording")

        play_started = time.time()
        player = Driver("play", [args.driver, "--role", "play", "--file", source, "--port", str(port),
                                 "--passes", str(args.passes),
                                 "--jump-permille", str(args.jump_permille), "--timeout-ms", str(args.timeout * 1000)] + mode
                                + args.driver_arg,
                        driver_env(work, "play"))
        drivers.append(player)
        play_code = player.wait(args.timeout + 30)
        play_ended = time.time()
        # What the sender had in flight is in the recorder's FIFO within moments.
        time.sleep(0.5)
        open(stop_file, "w").close()
        record_code = recorder.wait(60)
        if play_code != 0 or record_code != 0:
            raise Failure(f"driver exit codes: play {play_code}, record {record_code}")
        if not any(line.startswith("play: loop count") for line in player.lines):
            raise Failure("the player did not report its loop count")
    finally:
        for driver in drivers:
            driver.kill()

    started = time.monotonic()
    check_recording(source, out, args.ring, play_started, play_ended, args.seconds, not args.no_wrap,
                    1 if args.jump_permille >= 0 else 0)
    log(f"check took {time.monotonic() - started:.1f} s")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", required=True, help="orvane-cli")
    parser.add_argument("--driver", required=True, help="orvane-e2e-driver")
    parser.add_argument("--mode", choices=("rtp", "udp"), default="rtp")
    parser.add_argument("--timeout", type=int, default=90, help="seconds per phase")
    parser.add_argument("--keep", action="store_true", help="keep the work directory")
    parser.add_argument("--driver-arg", action="append", default=[],
                        help="one more argument for both drivers (pictures: --shot-dir, --window-size)")
    # Other shapes of the same run, for trying things out by hand.
    parser.add_argument("--rate", type=int, default=RATE, help="stream rate, bit/s")
    parser.add_argument("--duration", type=float, default=DURATION_S, help="source length, seconds")
    parser.add_argument("--passes", type=int, default=PASSES, help="passes before Stop")
    parser.add_argument("--ring", type=int, default=RING, help="files in the ring")
    parser.add_argument("--seconds", type=int, default=0, help="limit per file in seconds instead of 1 MiB")
    parser.add_argument("--jump-permille", type=int, default=-1,
                        help="drag the position slider there after the first pass (one jump)")
    parser.add_argument("--no-wrap", action="store_true",
                        help="a ring too large to turn over: the recording must hold the play from its first packet")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix=f"orvane-e2e-{args.mode}-")
    started = time.monotonic()
    ok = False
    try:
        run(args, work)
        ok = True
    except (Failure, subprocess.CalledProcessError, subprocess.TimeoutExpired) as error:
        log(f"E2E FAILED: {error}")
    finally:
        log(f"{'passed' if ok else 'failed'} in {time.monotonic() - started:.1f} s")
        if ok and not args.keep:
            shutil.rmtree(work, ignore_errors=True)
        else:
            log(f"work directory kept: {work}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
