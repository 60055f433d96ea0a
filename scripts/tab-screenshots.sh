#!/usr/bin/env bash
# Takes the pictures of the two tabs and the TOT/TDT dialog in docs/screenshots/
# from the real window, driven through its widgets by orvane-e2e-driver during an
# end-to-end run over loopback (tests/e2e/run_e2e.py), at three sizes:
#
#   NAME.png          the window at its smallest size (fits 1024x600 with a panel)
#   NAME-2560x1440.png  a maximised window on a 2560x1440 screen
#   NAME-scale2.png   the smallest size with QT_SCALE_FACTOR=2 (a HiDPI desktop)
#
# and, at 1280x800, tr101290-panel.png (the Record tab with example counts put
# into its TR 101 290 panel by the driver) and tr101290-play-tab.png.
#
#   scripts/tab-screenshots.sh [OUTPUT_DIR]      (default: docs/screenshots)
#
# Builds nothing: it expects build/default with orvane-cli and orvane-e2e-driver.
# Look at the pictures afterwards: whole tree lines, no control cut off.
set -euo pipefail
cd "$(dirname "$(realpath "$0")")/.."
bin=build/default
out=$(realpath -m "${1:-docs/screenshots}")
mkdir -p "$out"
shoot() { # SUFFIX WIDTHxHEIGHT [ENV...]
  shoot_into "$out" "$@"
}
shoot_into() { # DIR SUFFIX WIDTHxHEIGHT [ENV...]
  local dir=$1 suffix=$2 size=$3
  shift 3
  env "$@" python3 tests/e2e/run_e2e.py --cli "$bin/tools/orvane-cli" --driver "$bin/tests/orvane-e2e-driver" \
    --mode rtp --driver-arg=--shot-dir --driver-arg="$dir" \
    --driver-arg=--shot-suffix --driver-arg="$suffix" --driver-arg=--window-size --driver-arg="$size"
}
# 1024x600 less a 32-pixel panel and a 30-pixel title bar.
shoot "" 1024x538
shoot -2560x1440 2560x1400
shoot -scale2 1024x538 QT_SCALE_FACTOR=2
# The TR 101 290 pictures at the size the guide shows them.
big=$(mktemp -d)
trap 'rm -rf "$big"' EXIT
shoot_into "$big" "" 1280x800
cp "$big/tr101290-panel.png" "$out/tr101290-panel.png"
cp "$big/play-tab.png" "$out/tr101290-play-tab.png"
rm -f "$out"/tr101290-panel-*.png
ls -l "$out"
