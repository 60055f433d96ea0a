#!/usr/bin/env python3
"""orvane-cli monitoring on loopback: `play --rtp --loop` (20 Mbit/s, so that the
analysis gets its 1 MiB blocks within the run) feeds `monitor --rtp --json`;
every JSON line has the issue's keys, /metrics of both has the names and labels
dashboards use; injected RTP loss shows in the JSON only; a --metrics port in use
ends the run with status 1, a malformed one with 2. Argument: orvane-cli."""

import json, re, socket, subprocess, sys, tempfile, time, urllib.request

CLI = sys.argv[1]
P1 = ["ts_sync_loss", "sync_byte_error", "pat_error", "cc_error", "pmt_error", "pid_error"]
P2 = ["transport_error", "crc_error", "pcr_repetition_error", "pcr_discontinuity_indicator_error",
      "pcr_accuracy_error", "pts_error", "cat_error"]
VALUE = r'"((?:[^"\\]|\\.)*)"'


def free_port(kind=socket.SOCK_DGRAM):
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def scrape(port):
    """{name: [(labels, value)]}; every sample's family has its # TYPE line."""
    text = urllib.request.urlopen(f"http://127.0.0.1:{port}/metrics", timeout=5).read().decode()
    typed = set(re.findall(r"^# TYPE (\S+) ", text, re.M))
    samples = {}
    for line in (l for l in text.splitlines() if not l.startswith("#")):
        m = re.fullmatch(r"([a-z_0-9]+)\{((?:[a-z_]+=" + VALUE + r",?)*)\} (\S+)", line)
        assert m and m.group(1) in typed, f"bad sample line: {line!r}"
        samples.setdefault(m.group(1), []).append((dict(re.findall(r"([a-z_]+)=" + VALUE, m.group(2))),
                                                  float(m.group(4))))
    return samples


def json_lines(out):
    lines = [json.loads(line) for line in out.splitlines()]
    for o in lines:
        assert re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?Z", o["t"]), o["t"]
        assert all(isinstance(o[k], int) for k in ("bitrate_bps", "packets", "kernel_drops")), o
        assert {"df_ms", "mlr"} <= o["mdi"].keys() and {"lost", "reordered", "duplicates"} <= o["rtp"].keys()
        assert sorted(o["tr101290"]["p1"]) == sorted(P1) and sorted(o["tr101290"]["p2"]) == sorted(P2), o
        assert all({"pid", "bitrate_bps", "cc_error"} <= p.keys() for p in o["pids"]), o["pids"]
    return lines


def run(*args, **kw):
    return subprocess.run([CLI, *args], capture_output=True, text=True, timeout=20, **kw)


with tempfile.TemporaryDirectory() as work:
    stream = f"{work}/feed.ts"
    run("generate", stream, "--duration", "1", "--rate", "20000000", check=True)
    port, mon_metrics, play_metrics = free_port(), free_port(socket.SOCK_STREAM), free_port(socket.SOCK_STREAM)
    monitor = subprocess.Popen([CLI, "monitor", "--port", str(port), "--rtp", "--json", "--seconds", "4", "--metrics",
                                f"127.0.0.1:{mon_metrics}", "--name", 'cam "1"\\east'],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(0.5)
    play = subprocess.Popen([CLI, "play", stream, "--to", f"127.0.0.1:{port}", "--rtp", "--loop",
                             "--metrics", f"127.0.0.1:{play_metrics}"], stdout=subprocess.DEVNULL)
    try:
        time.sleep(2.5)
        m, p = scrape(mon_metrics), scrape(play_metrics)
        out, err = monitor.communicate(timeout=20)
    finally:
        play.terminate()
        play.wait(timeout=10)
        monitor.kill()
    assert monitor.returncode == 0, err
    lines = json_lines(out)
    assert len(lines) >= 3 and lines[-1]["packets"] > 0 and lines[-1]["pids"], out
    assert any(isinstance(o["mdi"]["df_ms"], float) and o["mdi"]["df_ms"] > 0 for o in lines), out

    s = {"stream": 'cam \\"1\\"\\\\east'}
    assert m["orvane_up"] == [({**s, "mode": "monitor"}, 1.0)], m["orvane_up"]
    for metric in ["orvane_tr101290_errors_total", "orvane_tr101290_active"]:
        assert all(lab["stream"] == s["stream"] for lab, _ in m[metric])
        assert {(lab["priority"], lab["indicator"]) for lab, _ in m[metric]} == \
            {("1", k) for k in P1} | {("2", k) for k in P2}, m[metric]
    for metric in ["orvane_mdi_df_ms", "orvane_mdi_mlr", "orvane_bitrate_bps", "orvane_packets_total",
                   "orvane_kernel_drops_total", "orvane_rtp_lost_total", "orvane_rtp_reordered_total",
                   "orvane_rtp_duplicates_total", "orvane_received_bytes_total"]:
        assert [lab for lab, _ in m[metric]] == [s], (metric, m.get(metric))
    assert m["orvane_received_bytes_total"][0][1] > 0
    assert {lab["pid"] for lab, _ in m["orvane_pid_bitrate_bps"]} >= {"0", "256"}, m["orvane_pid_bitrate_bps"]
    assert {"stream", "pid"} == set(m["orvane_pid_cc_errors_total"][0][0])

    f = {"stream": "feed.ts"}
    assert p["orvane_up"] == [({**f, "mode": "play"}, 1.0)], p["orvane_up"]
    assert abs(p["orvane_play_bitrate_bps"][0][1] - 20e6) < 0.2e6 and 0 <= p["orvane_play_fifo_level_ratio"][0][1] <= 1
    for metric in ["orvane_play_send_errors_total", "orvane_play_loops_total", "orvane_play_sent_bytes_total"]:
        assert [lab for lab, _ in p[metric]] == [f], (metric, p.get(metric))
    # What --impair and --fec did: always there (0 without them), one label each at most.
    for metric, kinds in [("orvane_play_impair_lost_total", ["random", "burst"]),
                          ("orvane_play_fec_packets_total", ["column", "row"])]:
        assert [lab for lab, _ in p[metric]] == [{**f, "kind": k} for k in kinds], (metric, p.get(metric))
    for metric in ["orvane_play_impair_reordered_total", "orvane_play_impair_duplicated_total",
                   "orvane_play_impair_delayed_total", "orvane_play_fec_media_total"]:
        assert p[metric] == [(f, 0.0)], (metric, p.get(metric))

    # RTP of 7 null packets every 2 ms, 3 datagrams lost: the receiver's gap lines
    # stay off standard output, the loss is in rtp.lost and (21 packets a second) the MLR.
    port = free_port()
    monitor = subprocess.Popen([CLI, "monitor", "--port", str(port), "--rtp", "--json", "--seconds", "3"],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(0.5)
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sender:
        start = time.monotonic()
        for n in (n for n in range(600) if n not in (100, 101, 300)):
            time.sleep(max(0.0, start + n * 0.002 - time.monotonic()))
            sender.sendto(bytes([0x80, 33, n >> 8, n & 0xFF] + [0] * 7 + [1]) +
                          (bytes([0x47, 0x1F, 0xFF, 0x10]) + bytes(184)) * 7, ("127.0.0.1", port))
    out, err = monitor.communicate(timeout=20)
    lines = json_lines(out)
    assert lines[-1]["rtp"]["lost"] == 3 and "recv rtp Seq" in err, (out, err)
    assert any(o["mdi"]["mlr"] and abs(o["mdi"]["mlr"] - 21) < 2 for o in lines), out

    # A port someone else listens on: nothing starts, status 1, the reason on stderr, stdout empty.
    with socket.socket() as busy:
        busy.bind(("127.0.0.1", 0))
        busy.listen()
        taken = busy.getsockname()[1]
        for args in (["monitor", "--port", str(free_port()), "--json"], ["play", stream, "--to", "127.0.0.1:9"]):
            r = run(*args, "--metrics", f"127.0.0.1:{taken}")
            assert r.returncode == 1 and r.stdout == "", (args, r)
            assert f"cannot serve metrics on 127.0.0.1:{taken}: Address already in use" in r.stderr, r.stderr
    r = run("record", "--port", "5000", "--out", f"{work}/x.ts", "--metrics", "nonsense")
    assert r.returncode == 2 and "bad --metrics \"nonsense\": expected ADDR:PORT" in r.stderr, r
print("monitoring_cli: ok")
