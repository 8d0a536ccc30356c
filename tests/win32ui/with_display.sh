#!/usr/bin/env bash
# Runs a command on an X display of its own, for the tests of the Windows window under Wine: a
# virtual X server (Xvfb) on a free display number and a window manager (openbox), both stopped
# when the command ends, however it ends. Every wait is bounded.
#   with_display.sh COMMAND [ARG...]
# Exits 77 (the tests' skip code) when Xvfb or openbox is missing, saying so. With QS_NO_WM=1 no
# window manager is started, as in a session that activates nothing by itself.
set -euo pipefail

for tool in Xvfb openbox; do
  if ! command -v "$tool" > /dev/null 2>&1; then
    echo "SKIPPED: $tool is not installed (Debian packages xvfb and openbox); the window needs a display"
    exit 77
  fi
done

work="$(mktemp -d)"
xvfb_pid=""
wm_pid=""
cleanup() {
  [ -n "$wm_pid" ] && kill "$wm_pid" 2> /dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2> /dev/null || true
  [ -n "$wm_pid" ] && wait "$wm_pid" 2> /dev/null || true
  [ -n "$xvfb_pid" ] && wait "$xvfb_pid" 2> /dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number to the descriptor it is given.
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3> "$work/display" 2> "$work/xvfb.log" &
xvfb_pid=$!
display=""
if ! read -r -t 20 display < "$work/display" || [ -z "$display" ]; then
  echo "with_display: Xvfb did not start within 20 s" >&2
  cat "$work/xvfb.log" >&2 || true
  exit 1
fi
export DISPLAY=":$display"

if [ "${QS_NO_WM:-0}" = 1 ]; then
  set +e
  "$@"
  status=$?
  set -e
  exit "$status"
fi
openbox --sm-disable > "$work/openbox.log" 2>&1 &
wm_pid=$!
# The window manager has taken the display once it has set its check window on the root.
for attempt in $(seq 1 50); do
  if ! kill -0 "$wm_pid" 2> /dev/null; then
    echo "with_display: openbox ended at start" >&2
    cat "$work/openbox.log" >&2 || true
    exit 1
  fi
  if command -v xprop > /dev/null 2>&1; then
    xprop -root _NET_SUPPORTING_WM_CHECK 2> /dev/null | grep -q "window id" && break
  elif [ "$attempt" -ge 10 ]; then
    break  # no way to ask: a second is enough for it to start
  fi
  sleep 0.1
done

set +e
"$@"
status=$?
set -e
exit "$status"
