#!/usr/bin/env bash
# The run command: installs what it needs (apt-get), builds the program, prepares a demo folder
# with its Security log and starts Quillstamp on it. Press Start: the events are listed and the
# demo files get their comments (see them with: getfattr -d -m - build/default/demo/Shared/*).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset default
cmake --build --preset default --target quillstamp quillstamp_demo
build/default/tools/demo/quillstamp_demo build/default/demo build/default/bin

# Without a display (a server, CI) the program still starts, on a virtual one.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: running under xvfb-run (QT_QPA_PLATFORM=offscreen works as well)."
  exec xvfb-run -a build/default/bin/quillstamp
fi
exec build/default/bin/quillstamp
