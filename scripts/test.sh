#!/usr/bin/env bash
# Installs what is missing, builds the default preset and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --test
scripts/build.sh default
ctest --preset default -j2 --output-on-failure "$@"
