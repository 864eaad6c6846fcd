#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs CMD... against a private PulseAudio server, so tests and benchmarks need no sound card and
# never touch the user's own server. The server gets a fresh 0700 runtime directory (also HOME),
# a null sink "voxtar_out" as default output, and the sink's monitor, remapped to an ordinary
# source "voxtar_in" (device lists leave monitors out), as default input: whatever is played can
# be recorded. A second pair, sink "voxtar_aux_out" heard by source "voxtar_aux_in", is there to
# choose another input. A null source looped into each sink keeps it rendering, so captured data
# flows from the first moment instead of in 2-second blocks.
#
# Exports XDG_RUNTIME_DIR, HOME, XDG_CONFIG_HOME, PULSE_SERVER, PULSE_COOKIE, PULSE_CLIENTCONFIG,
# VOXTAR_PULSE_PID (the server's PID) and VOXTAR_PULSE_START (a command that starts the server
# again on the same socket after a test killed it, and prints the new PID) to CMD. The server is
# killed by PID when CMD ends, whichever server runs then. Exit status: CMD's, or 77 (skipped) when no server could
# start; under CI (CI set and not "false") that is a failure instead, so a missing install step
# cannot pass unseen.
#
# Usage: with-pulseaudio.sh CMD [ARG...]
set -euo pipefail

source "$(dirname "$0")/../support/private-server.sh"
if ! command -v pulseaudio >/dev/null; then
  echo "with-pulseaudio: pulseaudio is not installed" >&2
  exit "$no_server"
fi

runtime="$(mktemp -d "${TMPDIR:-/tmp}/voxtar-pulse.XXXXXX")"
chmod 700 "$runtime"
server_pid=""

cleanup() {
  # The server that runs now: the first one, or the one a test started again.
  if [ -f "$runtime/server.pid" ]; then
    server_pid="$(cat "$runtime/server.pid")"
  fi
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$server_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$runtime"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$runtime/pulse" "$runtime/home/.config/pulse"
export XDG_RUNTIME_DIR="$runtime"
export HOME="$runtime/home"
export PULSE_SERVER="unix:$runtime/pulse/native"
export PULSE_COOKIE="$runtime/cookie"
export PULSE_CLIENTCONFIG="$runtime/client.conf"
export XDG_CONFIG_HOME="$HOME/.config"
unset PULSE_SINK PULSE_SOURCE

cat >"$PULSE_CLIENTCONFIG" <<CONF
autospawn = no
default-server = $PULSE_SERVER
CONF

cat >"$XDG_CONFIG_HOME/pulse/daemon.conf" <<CONF
default-sample-format = float32le
default-sample-rate = 48000
alternate-sample-rate = 48000
default-sample-channels = 2
default-fragments = 4
default-fragment-size-msec = 5
CONF

cat >"$runtime/default.pa" <<CONF
load-module module-native-protocol-unix auth-anonymous=1 socket=$runtime/pulse/native
load-module module-null-sink sink_name=voxtar_out rate=48000 channels=2 format=float32le sink_properties=device.description=Voxtar-Test-Output
load-module module-remap-source source_name=voxtar_in master=voxtar_out.monitor source_properties=device.description=Voxtar-Test-Input
load-module module-null-source source_name=voxtar_silence rate=48000 channels=2
load-module module-loopback source=voxtar_silence sink=voxtar_out latency_msec=20 source_dont_move=true sink_dont_move=true
load-module module-null-sink sink_name=voxtar_aux_out rate=48000 channels=2 format=float32le sink_properties=device.description=Voxtar-Test-Aux-Output
load-module module-remap-source source_name=voxtar_aux_in master=voxtar_aux_out.monitor source_properties=device.description=Voxtar-Test-Aux-Input
load-module module-null-source source_name=voxtar_aux_silence rate=48000 channels=2
load-module module-loopback source=voxtar_aux_silence sink=voxtar_aux_out latency_msec=20 source_dont_move=true sink_dont_move=true
set-default-sink voxtar_out
set-default-source voxtar_in
CONF

# The server is started by its own script, so a test can start it again after killing it.
cat >"$runtime/start-server" <<SCRIPT
#!/usr/bin/env bash
# Starts the private server in the background, waits until it serves with a small sink latency,
# writes its PID to $runtime/server.pid and prints it. Exit status 1 when it does not start.
set -u
pulseaudio -n -F "$runtime/default.pa" --daemonize=no --exit-idle-time=-1 --use-pid-file=no \\
  --disallow-exit=yes --disallow-module-loading=no --log-target=file:"$runtime/server.log" \\
  --log-level=warning --system=no \\
  --high-priority=no --realtime=no </dev/null >/dev/null 2>>"$runtime/server.log" &
pid=\$!
echo "\$pid" >"$runtime/server.pid"
# Ready once a client gets its info; give up after 10 s.
for _ in \$(seq 100); do
  pactl info >/dev/null 2>&1 && break
  kill -0 "\$pid" 2>/dev/null || break
  sleep 0.1
done
pactl info >/dev/null 2>&1 || exit 1
# A null sink starts with a latency of up to 2 s; wait until it renders in small blocks, as it
# does once the looped-in silence has pulled its latency down.
for _ in \$(seq 100); do
  latency="\$(pactl list sinks 2>/dev/null | sed -n 's/^[[:space:]]*Latency: \([0-9]*\) usec.*/\1/p' | sort -n | tail -n1)"
  if [ -n "\$latency" ] && [ "\$latency" -lt 100000 ]; then
    break
  fi
  sleep 0.05
done
echo "\$pid"
SCRIPT
chmod +x "$runtime/start-server"
export VOXTAR_PULSE_START="$runtime/start-server"

if ! server_pid="$("$runtime/start-server")"; then
  echo "with-pulseaudio: the PulseAudio server did not start" >&2
  cat "$runtime/server.log" >&2 || true
  exit "$no_server"
fi
export VOXTAR_PULSE_PID="$server_pid"

status=0
"$@" || status=$?
exit "$status"
