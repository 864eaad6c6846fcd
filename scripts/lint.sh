#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Static checks: clang-format (no file may need reformatting) and clang-tidy (.clang-tidy) over
# every C++ source of the repository that the ci build compiles. Usage: scripts/lint.sh [FILE...]
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$#" -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
fi

# Includes that run against the layers of docs/architecture.md.
scripts/check_layers.py "${files[@]}"

echo "clang-format: ${#files[@]} files"
clang-format-14 --dry-run -Werror "${files[@]}"

# clang-tidy needs the compile commands and the generated Qt sources of the ci build.
if [ ! -f build/ci/compile_commands.json ]; then
  cmake --preset ci >/dev/null
fi
if ! cmake --build --preset ci -j "$(nproc)" >build/ci/lint-build.log 2>&1; then
  tail -n 50 build/ci/lint-build.log
  exit 1
fi

# Only translation units the ci build compiles; headers are checked through them.
mapfile -t units < <(python3 - "${files[@]}" <<'PY'
import json, os, sys
compiled = {os.path.realpath(e["file"]) for e in json.load(open("build/ci/compile_commands.json"))}
for f in sys.argv[1:]:
    if f.endswith(".cpp") and os.path.realpath(f) in compiled:
        print(f)
PY
)
# A unit whose preprocessed input, flags, .clang-tidy and tool are unchanged since a clean run is
# not checked again (scripts/tidy_cached.py).
scripts/tidy_cached.py build/ci "${units[@]}"
echo "lint: no findings"
