#!/usr/bin/env bash
# Checks which folder may include which (docs/architecture.md, "Layers").
# A folder includes only itself and the layers below it; a back-edge fails.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A allowed=(
  [src/common]="common"
  [src/analysis]="common analysis"
  [src/engine]="common analysis engine"
  [src/devices]="common devices"
  [src/controls]="common analysis controls"
  [src/play]="common analysis engine controls play"
  [src/record]="common analysis engine controls record"
  [src/app]="common analysis engine devices controls play record app"
  [tools/orvane-cli]="common analysis engine devices"
  [tools/orvane-devsim]="common devices"
)

status=0
for dir in "${!allowed[@]}"; do
  while IFS=: read -r file line text; do
    layer=$(sed -E 's/.*#include "([a-z]+)\/.*/\1/' <<<"$text")
    if ! grep -qw -- "$layer" <<<"${allowed[$dir]}"; then
      echo "check-layers: $file:$line includes $layer/, which $dir/ may not (allowed: ${allowed[$dir]})" >&2
      status=1
    fi
  done < <(grep -rnE '^#include "[a-z]+/' "$dir" --include='*.h' --include='*.cpp' || true)
done
[ $status -eq 0 ] && echo "check-layers: no back-edges"
exit $status
