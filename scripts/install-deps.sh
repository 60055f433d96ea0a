#!/usr/bin/env bash
# Installs the Debian 12 packages that Orvane needs to build, test and run,
# if any are missing. Idempotent; works as root and through sudo.
# `--test` adds the tools the interoperability tests talk to (ffmpeg/ffprobe,
# multicat, tshark); `--bench` does the same (they are the benchmarks' peers too).
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev clang-format
  # libraries
  libbitstream-dev libcli11-dev nlohmann-json3-dev libcpp-httplib-dev liburing-dev
  libsrt-openssl-dev librist-dev
  qt6-base-dev qt6-svg-dev libgl-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth python3 nftables
  # the IPv6 tests' private network namespace with a veth pair (ip, unshare)
  iproute2 util-linux
  # packaging: the .deb's library dependencies, the desktop entry check, PNG icons,
  # the package check and the AppStream metainfo check
  dpkg-dev desktop-file-utils librsvg2-bin lintian appstream
  # the systemd units' check (systemd-analyze verify reads the units' man pages)
  systemd man-db
)
case "${1:-}" in
  --test | --bench)
    # interoperability tests: the peer tools that send, probe and decode our streams
    # (srt-tools, rist-tools and GStreamer's 2022-1 FEC decoder for the protected transports)
    PACKAGES+=(ffmpeg multicat tshark srt-tools rist-tools gstreamer1.0-tools gstreamer1.0-plugins-good
      gstreamer1.0-plugins-bad)
    ;;
esac

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  SUDO="sudo"
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
