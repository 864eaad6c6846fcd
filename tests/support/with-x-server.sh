#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs CMD... on a private X server with a real window manager, for the tests that are about what
# only a window system does: which window is stacked above which, and which has the focus. The
# offscreen platform has neither. Xvfb takes the first free display, Openbox manages it; both are
# stopped by PID when CMD ends.
#
# Exports DISPLAY and QT_QPA_PLATFORM=xcb to CMD. Exit status: CMD's, or 77 (skipped) when Xvfb or
# Openbox is missing or does not start; under CI (CI set and not "false") that is a failure
# instead, so a missing install step cannot pass unseen.
#
# Usage: with-x-server.sh CMD [ARG...]
set -euo pipefail

source "$(dirname "$0")/private-server.sh"
for program in Xvfb openbox xprop xdotool; do
  if ! command -v "$program" >/dev/null; then
    echo "with-x-server: $program is not installed" >&2
    exit "$no_server"
  fi
done

runtime="$(mktemp -d "${TMPDIR:-/tmp}/voxtar-x.XXXXXX")"
x_pid=""
wm_pid=""
cleanup() {
  for pid in $wm_pid $x_pid; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in $wm_pid $x_pid; do
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
  done
  rm -rf "$runtime"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Xvfb writes the display it took to the descriptor given, once it accepts clients. Each server
# gets 20 s to come up: CI starts them on a machine busy with other tests.
exec 3>"$runtime/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$runtime/xvfb.log" 2>&1 &
x_pid=$!
exec 3>&-
for _ in $(seq 400); do
  [ -s "$runtime/display" ] && break
  kill -0 "$x_pid" 2>/dev/null || break
  sleep 0.05
done
if [ ! -s "$runtime/display" ]; then
  echo "with-x-server: Xvfb did not start" >&2
  cat "$runtime/xvfb.log" >&2 || true
  exit "$no_server"
fi
export DISPLAY=":$(head -n1 "$runtime/display")"

# A private configuration directory: no user's Openbox settings or autostart apply.
export XDG_CONFIG_HOME="$runtime/config"
mkdir -p "$XDG_CONFIG_HOME"
openbox --sm-disable >"$runtime/openbox.log" 2>&1 &
wm_pid=$!
# Managing once it announces itself on the root window.
for _ in $(seq 400); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  kill -0 "$wm_pid" 2>/dev/null || break
  sleep 0.05
done
if ! xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
  echo "with-x-server: Openbox did not start" >&2
  cat "$runtime/openbox.log" >&2 || true
  exit "$no_server"
fi

export QT_QPA_PLATFORM=xcb
# No desktop bus: the tests must not reach the user's session, and a bus launched for the
# display would outlive them.
export DBUS_SESSION_BUS_ADDRESS="disabled:"
status=0
"$@" || status=$?
exit "$status"
