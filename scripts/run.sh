#!/usr/bin/env bash
# Builds the program and starts it on a scratch copy of the demo working directory, so the
# committed demo files (which loading a lesson rewrites) stay as they are.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

scripts/install-deps.sh
cmake --preset release
cmake --build --preset release -j "$(nproc)"

scratch="$(mktemp -d "${TMPDIR:-/tmp}/voxtar-demo.XXXXXX")"
cp -r demo/. "$scratch/"
echo "Working directory: $scratch"
cd "$scratch"
"$root/build/release/cli/voxtar-lesson" check Ini/*.idx
