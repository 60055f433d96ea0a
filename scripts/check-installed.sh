#!/usr/bin/env bash
# Tries the INSTALLED Orvane (the .deb's files under /usr), as CI does after
# `apt-get install ./orvane_*.deb`: the binaries are stripped and find their
# libraries, the tools run, a generated stream analyses, the desktop entry and
# the AppStream metainfo are valid, the icons, man pages, copyright file and
# changelog are there, and the window starts (offscreen) and is still running
# after 3 s.
# Usage: scripts/check-installed.sh [PREFIX]   (default /usr)
set -euo pipefail
prefix="${1:-/usr}"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "check-installed: FAILED: $*" >&2; exit 1; }

for b in orvane orvane-cli orvane-devsim; do
  [ -x "$prefix/bin/$b" ] || fail "$prefix/bin/$b is not installed"
  missing=$(ldd "$prefix/bin/$b" | grep 'not found' || true)
  [ -z "$missing" ] || fail "$b needs libraries that are not installed: $missing"
  # Debug information stays in the build tree; a stripped binary has no symbol table.
  if readelf -S "$prefix/bin/$b" | grep -q '\.symtab'; then
    fail "$prefix/bin/$b is not stripped"
  fi
done

cli="$prefix/bin/orvane-cli"
"$cli" --version
"$cli" generate "$tmp/gen.ts" --programs 2 --rate 4000000 --duration 2
"$cli" analyze "$tmp/gen.ts" >"$tmp/analyze.txt"
grep -q . "$tmp/analyze.txt" || fail "orvane-cli analyze printed nothing"
"$cli" analyze --json "$tmp/gen.ts" | python3 -c '
import json, sys
info = json.load(sys.stdin)
assert info, "empty analysis"
' || fail "orvane-cli analyze --json is not valid JSON"
echo "check-installed: orvane-cli generate + analyze: $(wc -l <"$tmp/analyze.txt") lines of analysis"

desktop="$prefix/share/applications/orvane.desktop"
[ -f "$desktop" ] || fail "$desktop is not installed"
desktop-file-validate "$desktop" || fail "$desktop does not validate"
icons="$prefix/share/icons/hicolor"
[ -f "$icons/scalable/apps/orvane.svg" ] || fail "scalable icon is not installed"
for size in 16 22 24 32 48 64 128 256; do
  png="$icons/${size}x${size}/apps/orvane.png"
  [ -f "$png" ] || fail "$png is not installed"
  # The IHDR chunk holds width and height right after the signature.
  python3 - "$png" "$size" <<'PY' || fail "$png is not a ${size}x${size} PNG"
import struct, sys
data = open(sys.argv[1], "rb").read(24)
size = int(sys.argv[2])
assert data[:8] == b"\x89PNG\r\n\x1a\n" and struct.unpack(">II", data[16:24]) == (size, size)
PY
done
metainfo="$prefix/share/metainfo/io.orvane.Orvane.metainfo.xml"
[ -f "$metainfo" ] || fail "$metainfo is not installed"
appstreamcli validate --no-net "$metainfo" || fail "$metainfo does not validate"
grep -q '<launchable type="desktop-id">orvane.desktop</launchable>' "$metainfo" ||
  fail "$metainfo does not launch orvane.desktop"
for page in orvane orvane-cli orvane-devsim; do
  gz="$prefix/share/man/man1/$page.1.gz"
  [ -f "$gz" ] || fail "man page $page.1.gz is not installed"
  gzip -t "$gz" || fail "$gz is not a valid gzip file"
done
doc="$prefix/share/doc/orvane"
[ -f "$doc/README.md" ] || fail "README.md is not installed in share/doc/orvane"
[ -f "$doc/copyright" ] || fail "$doc/copyright is not installed"
head -n 1 "$doc/copyright" |
  grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "$doc/copyright is not in the machine-readable copyright format"
grep -qx 'License: BSD-2-Clause' "$doc/copyright" || fail "$doc/copyright does not name BSD-2-Clause"
changelog="$doc/changelog.Debian.gz"
[ -f "$changelog" ] || fail "$changelog is not installed"
gzip -t "$changelog" || fail "$changelog is not a valid gzip file"
entry=$(gzip -dc "$changelog" | sed -n 1p)
[[ "$entry" =~ ^orvane\ \(([^\)]+)\)\ [a-z]+\;\ urgency= ]] ||
  fail "$changelog does not start with a Debian changelog entry: $entry"
# Installed by dpkg: the newest entry is the version installed.
installed=$(dpkg-query -W -f='${Version}' orvane 2>/dev/null || true)
if [ "$prefix" = /usr ] && [ -n "$installed" ] && [ "${BASH_REMATCH[1]}" != "$installed" ]; then
  fail "$changelog starts with version ${BASH_REMATCH[1]}, the installed package is $installed"
fi
echo "check-installed: desktop entry and metainfo valid; icon (SVG + 8 PNG sizes), man pages, docs, copyright and changelog present"

# The window: it has no arguments and runs until closed, so still running at
# the time-out (status 124) is the good outcome.
set +e
HOME="$tmp" QT_QPA_PLATFORM=offscreen timeout 3 "$prefix/bin/orvane" >"$tmp/gui.log" 2>&1
status=$?
set -e
if [ "$status" -ne 124 ]; then
  cat "$tmp/gui.log" >&2
  fail "orvane ended with status $status within 3 s instead of running"
fi
echo "check-installed: orvane ran for 3 s (offscreen) and was stopped by the time-out"

# The systemd units, where the package put them.
if [ "$prefix" = /usr ]; then
  "$(dirname "$0")/check-units.sh" /lib/systemd/system
fi
