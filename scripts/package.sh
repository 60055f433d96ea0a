#!/usr/bin/env bash
# Builds the Debian package and prints the path of the .deb.
# Without an argument the tree is built as a distribution builds it: plain CMake,
# Release, Debian's hardening flags from dpkg-buildflags (stack protector,
# _FORTIFY_SOURCE, relro, and bind-now: the GOT is read-only once the
# program runs), warnings not errors, no tests or benchmarks
# (build/release). With PRESET, that preset's tree is packaged instead.
# Extra arguments for the configure step (a compiler launcher, say) can be given
# in ORVANE_CMAKE_ARGS.
# Usage: scripts/package.sh [PRESET]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh >&2
if [ $# -eq 0 ]; then
  dir=build/release
  export DEB_BUILD_MAINT_OPTIONS="hardening=+bindnow ${DEB_BUILD_MAINT_OPTIONS:-}"
  # CMake reads no CPPFLAGS, so the preprocessor flags join the compiler's.
  cflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)"
  cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
  ldflags=$(dpkg-buildflags --get LDFLAGS)
  # shellcheck disable=SC2086 # ORVANE_CMAKE_ARGS is a list of words
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DORVANE_BUILD_TESTS=OFF -DORVANE_BUILD_BENCH=OFF \
    -DCMAKE_C_FLAGS="$cflags" -DCMAKE_CXX_FLAGS="$cxxflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" \
    ${ORVANE_CMAKE_ARGS:-} >&2
  cmake --build "$dir" >&2
else
  scripts/build.sh "$1" >&2
  dir="build/$1"
fi
(cd "$dir" && cpack -G DEB --config CPackConfig.cmake >&2)
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$dir/CPackConfig.cmake")
revision=$(sed -n 's/^set(CPACK_DEBIAN_PACKAGE_RELEASE "\(.*\)")$/\1/p' "$dir/CPackConfig.cmake")
[ -z "$revision" ] || version="$version-$revision"
deb="$dir/orvane_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { echo "package: $deb was not written" >&2; exit 1; }
echo "$deb"
