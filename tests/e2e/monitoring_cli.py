#!/usr/bin/env python3
"""orvane-cli monitoring on loopback: `play --rtp --loop` (20 Mbit/s, so that the
analysis gets its 1 MiB blocks within the run) feeds `monitor --rtp
--json`; every JSON line has the keys the issue names, and /metrics of both
processes has the metric names and labels dashboards use. A --metrics port in
use ends the run with status 1 and a clear message, a malformed one with 2.
Argument: the orvane-cli binary."""

import json
import re
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

CLI = sys.argv[1]
P1 = ["ts_sync_loss", "sync_byte_error", "pat_error", "cc_error", "pmt_error", "pid_error"]
P2 = ["transport_error", "crc_error", "pcr_repetition_error", "pcr_discontinuity_indicator_error",
      "pcr_accuracy_error", "pts_error", "cat_error"]
SAMPLE = re.compile(r'^([a-z_0-9]+)\{((?:[a-z_]+="(?:[^"\\]|\\.)*",?)*)\} (\S+)$')


def free_port(kind=socket.SOCK_DGRAM):
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def scrape(port):
    """{name: [(labels dict, value)]}, checking that every family has # HELP and # TYPE."""
    text = urllib.request.urlopen(f"http://127.0.0.1:{port}/metrics", timeout=5).read().decode()
    families, samples = set(), {}
    for line in text.splitlines():
        if line.startswith("# TYPE "):
            families.add(line.split()[2])
            continue
        if line.startswith("#"):
            continue
        m = SAMPLE.match(line)
        assert m, f"not a sample line: {line!r}"
        assert m.group(1) in families, f"{m.group(1)} without # TYPE"
        labels = dict(re.findall(r'([a-z_]+)="((?:[^"\\]|\\.)*)"', m.group(2)))
        samples.setdefault(m.group(1), []).append((labels, float(m.group(3))))
    return samples


def send_rtp(port, count, lost):
    """RTP datagrams of 7 null packets every 2 ms, numbers in @lost left out."""
    null = bytes([0x47, 0x1F, 0xFF, 0x10]) + bytes(184)
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        start = time.monotonic()
        for n in range(count):
            time.sleep(max(0.0, start + n * 0.002 - time.monotonic()))
            if n not in lost:
                s.sendto(bytes([0x80, 33, n >> 8, n & 0xFF, 0, 0, 0, 0, 0, 0, 0, 1]) + null * 7, ("127.0.0.1", port))


def check_json_line(line):
    o = json.loads(line)
    assert re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?Z", o["t"]), o["t"]
    assert isinstance(o["bitrate_bps"], int) and isinstance(o["packets"], int) and isinstance(o["kernel_drops"], int)
    assert {"df_ms", "mlr"} <= o["mdi"].keys()
    assert sorted(o["tr101290"]["p1"]) == sorted(P1) and sorted(o["tr101290"]["p2"]) == sorted(P2), o["tr101290"]
    assert {"lost", "reordered", "duplicates"} <= o["rtp"].keys()
    for p in o["pids"]:
        assert {"pid", "bitrate_bps", "cc_error"} <= p.keys(), p
    return o


with tempfile.TemporaryDirectory() as work:
    stream = f"{work}/feed.ts"
    subprocess.run([CLI, "generate", stream, "--duration", "1", "--rate", "20000000"], check=True, capture_output=True)
    port, mon_metrics, play_metrics = free_port(), free_port(socket.SOCK_STREAM), free_port(socket.SOCK_STREAM)
    name = 'cam "1"\\east'
    monitor = subprocess.Popen([CLI, "monitor", "--port", str(port), "--rtp", "--json", "--seconds", "4",
                                "--metrics", f"127.0.0.1:{mon_metrics}", "--name", name],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(0.5)
    play = subprocess.Popen([CLI, "play", stream, "--to", f"127.0.0.1:{port}", "--rtp", "--loop",
                             "--metrics", f"127.0.0.1:{play_metrics}"], stdout=subprocess.DEVNULL)
    try:
        time.sleep(2.5)
        m = scrape(mon_metrics)
        p = scrape(play_metrics)
        out, err = monitor.communicate(timeout=20)
    finally:
        play.terminate()
        play.wait(timeout=10)
        monitor.kill()
    assert monitor.returncode == 0, err

    lines = [check_json_line(line) for line in out.splitlines()]
    assert len(lines) >= 3, out
    assert lines[-1]["packets"] > 0 and lines[-1]["pids"], lines[-1]
    assert any(isinstance(o["mdi"]["df_ms"], float) and o["mdi"]["df_ms"] > 0 for o in lines), out

    escaped = 'cam \\"1\\"\\\\east'
    assert m["orvane_up"] == [({"stream": escaped, "mode": "monitor"}, 1.0)], m["orvane_up"]
    indicators = {(lab["priority"], lab["indicator"]) for lab, _ in m["orvane_tr101290_errors_total"]}
    assert indicators == {("1", k) for k in P1} | {("2", k) for k in P2}, indicators
    assert len(m["orvane_tr101290_active"]) == len(P1) + len(P2)
    for metric in ["orvane_mdi_df_ms", "orvane_mdi_mlr", "orvane_bitrate_bps", "orvane_packets_total",
                   "orvane_kernel_drops_total", "orvane_rtp_lost_total", "orvane_rtp_reordered_total",
                   "orvane_rtp_duplicates_total", "orvane_received_bytes_total"]:
        assert [lab for lab, _ in m[metric]] == [{"stream": escaped}], (metric, m.get(metric))
    assert m["orvane_received_bytes_total"][0][1] > 0
    assert {lab["pid"] for lab, _ in m["orvane_pid_bitrate_bps"]} >= {"0", "256"}, m["orvane_pid_bitrate_bps"]
    assert {"stream", "pid"} == set(m["orvane_pid_cc_errors_total"][0][0])

    assert p["orvane_up"] == [({"stream": "feed.ts", "mode": "play"}, 1.0)], p["orvane_up"]
    assert abs(p["orvane_play_bitrate_bps"][0][1] - 20e6) < 0.2e6, p["orvane_play_bitrate_bps"]
    assert 0 <= p["orvane_play_fifo_level_ratio"][0][1] <= 1
    for metric in ["orvane_play_send_errors_total", "orvane_play_loops_total", "orvane_play_sent_bytes_total"]:
        assert [lab for lab, _ in p[metric]] == [{"stream": "feed.ts"}], (metric, p.get(metric))

    # RTP with 3 datagrams lost: the receiver's gap lines stay off standard output,
    # the loss shows in rtp.lost and (21 packets in a second) in the MLR.
    port = free_port()
    monitor = subprocess.Popen([CLI, "monitor", "--port", str(port), "--rtp", "--json", "--seconds", "3"],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(0.5)
    send_rtp(port, 600, {100, 101, 300})
    out, err = monitor.communicate(timeout=20)
    lines = [check_json_line(line) for line in out.splitlines()]
    assert lines[-1]["rtp"]["lost"] == 3 and "recv rtp Seq" in err, (out, err)
    assert any(o["mdi"]["mlr"] and o["mdi"]["mlr"] > 15 for o in lines), out

    # A port someone else listens on: nothing starts, status 1, the reason on stderr, stdout empty.
    with socket.socket() as busy:
        busy.bind(("127.0.0.1", 0))
        busy.listen()
        taken = busy.getsockname()[1]
        for args in (["monitor", "--port", str(free_port()), "--json"], ["play", stream, "--to", "127.0.0.1:9"]):
            r = subprocess.run([CLI, *args, "--metrics", f"127.0.0.1:{taken}"], capture_output=True, text=True,
                               timeout=20)
            assert r.returncode == 1 and r.stdout == "", (args, r)
            assert f"cannot serve metrics on 127.0.0.1:{taken}: Address already in use" in r.stderr, r.stderr
    r = subprocess.run([CLI, "record", "--port", "5000", "--out", f"{work}/x.ts", "--metrics", "nonsense"],
                       capture_output=True, text=True, timeout=20)
    assert r.returncode == 2 and "bad --metrics \"nonsense\": expected ADDR:PORT" in r.stderr, r
print("monitoring_cli: ok")
