#!/usr/bin/env bash
# Builds the Debian package and prints the path of the .deb.
# Without an argument the tree is built as a distribution builds it: plain CMake,
# Release, its own flags, warnings not errors, no tests or benchmarks
# (build/release). With PRESET, that preset's tree is packaged instead.
# Usage: scripts/package.sh [PRESET]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh >&2
if [ $# -eq 0 ]; then
  dir=build/release
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DORVANE_BUILD_TESTS=OFF -DORVANE_BUILD_BENCH=OFF >&2
  cmake --build "$dir" >&2
else
  scripts/build.sh "$1" >&2
  dir="build/$1"
fi
(cd "$dir" && cpack -G DEB --config CPackConfig.cmake >&2)
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$dir/CPackConfig.cmake")
deb="$dir/orvane_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { echo "package: $deb was not written" >&2; exit 1; }
echo "$deb"
