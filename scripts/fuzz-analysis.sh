#!/usr/bin/env bash
# Builds the analysis fuzzer (clang, libFuzzer, ASan + UBSan) and runs it for a
# bounded time on a seed corpus written by the stream generator.
# Usage: scripts/fuzz-analysis.sh [SECONDS]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target orvane-fuzz-analysis orvane-fuzz-seeds

work=build/fuzz/run
rm -rf "$work"
mkdir -p "$work/seeds" "$work/corpus" "$work/artifacts"
build/fuzz/fuzz/orvane-fuzz-seeds "$work/seeds"

# Sanitizer runtimes do not live with the widest address randomisation.
setarch "$(uname -m)" -R build/fuzz/fuzz/orvane-fuzz-analysis \
    "$work/corpus" "$work/seeds" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -artifact_prefix="$work/artifacts/" -print_final_stats=1
