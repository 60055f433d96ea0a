#!/usr/bin/env bash
# Installs what is missing, builds, and starts Orvane: the GUI when it has been
# built and a display is there, otherwise the command-line tool.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh default
bin=build/default
if [ -x "$bin/src/orvane" ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  exec "$bin/src/orvane" "$@"
elif [ -x "$bin/tools/orvane-cli" ]; then
  [ -x "$bin/src/orvane" ] && echo "run: no display; starting the command-line tool instead of the GUI"
  exec "$bin/tools/orvane-cli" "${@:---help}"
else
  echo "run: built in $bin:"
  find "$bin" -maxdepth 3 -type f \( -name '*.a' -o -perm -u+x \) ! -name '*.sh' ! -path '*/CMakeFiles/*' | sort
fi
