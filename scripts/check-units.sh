#!/usr/bin/env bash
# Checks the installed systemd template units (orvane-record@, orvane-monitor@,
# orvane-play@). Where systemd runs the machine, one monitor unit is started
# for real from a .conf, must come up, serve its metrics and stop cleanly;
# elsewhere (containers, CI without systemd as PID 1) each unit is checked with
# `systemd-analyze verify`, which also proves that the binary and the man page
# they name are installed.
# Usage: scripts/check-units.sh [UNITDIR]   (default /lib/systemd/system)
set -euo pipefail
unitdir="${1:-/lib/systemd/system}"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "check-units: FAILED: $*" >&2; exit 1; }
command -v systemd-analyze >/dev/null || fail "systemd-analyze is not installed (apt-get install systemd)"

for mode in record monitor play; do
  unit="$unitdir/orvane-$mode@.service"
  [ -f "$unit" ] || fail "$unit is not installed"
  # A template verifies as one of its instances.
  cp "$unit" "$tmp/orvane-$mode@check.service"
  out=$(cd "$tmp" && systemd-analyze verify "./orvane-$mode@check.service" 2>&1) ||
    fail "orvane-$mode@.service does not verify: $out"
  # verify prints warnings without failing; none are accepted.
  [ -z "$out" ] || fail "orvane-$mode@.service: $out"
  echo "check-units: orvane-$mode@.service verifies"
done

if [ ! -d /run/systemd/system ]; then
  echo "check-units: systemd does not run this machine; units checked with systemd-analyze verify only"
  exit 0
fi

# systemd runs here: one monitor unit, started and stopped for real.
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
port=$(free_port)
metrics=$(free_port)
name="check-units-$$"
conf="/etc/orvane/$name.conf"
mkdir -p /etc/orvane
echo "ORVANE_ARGS=\"--port $port --metrics 127.0.0.1:$metrics\"" >"$conf"
cleanup() { systemctl stop "orvane-monitor@$name" 2>/dev/null || true; rm -f "$conf"; rm -rf "$tmp"; }
trap cleanup EXIT
systemctl start "orvane-monitor@$name"
for _ in $(seq 50); do
  python3 - "$metrics" "$name" <<'PY' 2>/dev/null && break
import sys, urllib.request
text = urllib.request.urlopen(f"http://127.0.0.1:{sys.argv[1]}/metrics", timeout=1).read().decode()
assert f'stream="{sys.argv[2]}"' in text
PY
  sleep 0.2
done
systemctl is-active --quiet "orvane-monitor@$name" || fail "orvane-monitor@$name did not stay active"
python3 - "$metrics" "$name" <<'PY' || fail "orvane-monitor@$name serves no metrics"
import sys, urllib.request
text = urllib.request.urlopen(f"http://127.0.0.1:{sys.argv[1]}/metrics", timeout=2).read().decode()
assert f'orvane_up{{stream="{sys.argv[2]}",mode="monitor"}} 1' in text, text[:400]
PY
systemctl stop "orvane-monitor@$name"
if systemctl is-active --quiet "orvane-monitor@$name"; then fail "orvane-monitor@$name did not stop"; fi
result=$(systemctl show -p Result --value "orvane-monitor@$name")
[ "$result" = success ] || fail "orvane-monitor@$name stopped with result $result"
echo "check-units: orvane-monitor@$name started, served its metrics and stopped cleanly"
