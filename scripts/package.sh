#!/usr/bin/env bash
# Builds the Debian package from the optimised tree (RelWithDebInfo; cpack strips
# the binaries) and prints the path of the .deb.
# Usage: scripts/package.sh [PRESET]   (default: default)
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
scripts/install-deps.sh >&2
scripts/build.sh "$preset" >&2
dir="build/$preset"
(cd "$dir" && cpack -G DEB --config CPackConfig.cmake >&2)
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$dir/CPackConfig.cmake")
deb="$dir/orvane_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { echo "package: $deb was not written" >&2; exit 1; }
echo "$deb"
