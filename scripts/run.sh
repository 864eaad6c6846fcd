#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the program and starts it on a scratch copy of the demo working directory, so the
# committed demo files (which loading a lesson rewrites) stay as they are.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display: neither DISPLAY nor WAYLAND_DISPLAY nor QT_QPA_PLATFORM is set." >&2
  echo "Voxtar is a window program; start it from a desktop session, or under a virtual X" >&2
  echo "server, e.g.: xvfb-run -a -s '-screen 0 1280x800x24' scripts/run.sh" >&2
  exit 1
fi

scripts/install-deps.sh
cmake --preset release
cmake --build --preset release -j "$(nproc)"

scratch="$(mktemp -d "${TMPDIR:-/tmp}/voxtar-demo.XXXXXX")"
cp -r demo/. "$scratch/"
echo "Working directory: $scratch"
cd "$scratch"
exec "$root/build/release/app/voxtar"
