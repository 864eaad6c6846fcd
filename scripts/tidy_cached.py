#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Runs clang-tidy over translation units, skipping those it already found clean.

A unit is skipped only when its preprocessed input (every header it includes, with the source root
written as a placeholder so that two clones share results), its compile flags, the .clang-tidy
file and the clang-tidy version are all unchanged since a clean run. Findings are never cached.

Usage: scripts/tidy_cached.py BUILD_DIR UNIT...   (run from the source root)
The results live in $XDG_CACHE_HOME/voxtar/clang-tidy (default ~/.cache/voxtar/clang-tidy);
VOXTAR_TIDY_CACHE=off runs every unit.
"""

import concurrent.futures
import hashlib
import json
import os
import shlex
import subprocess
import sys

TIDY = "clang-tidy-14"


def cache_dir():
    base = os.environ.get("XDG_CACHE_HOME") or os.path.join(os.path.expanduser("~"), ".cache")
    return os.path.join(base, "voxtar", "clang-tidy")


def compile_commands(build):
    with open(os.path.join(build, "compile_commands.json"), encoding="utf-8") as f:
        entries = json.load(f)
    return {os.path.realpath(e["file"]): e for e in entries}


def preprocess_args(entry):
    args = entry.get("arguments") or shlex.split(entry["command"])
    # Drop a launcher (ccache behind "cmake -E env ...") so that the compiler runs itself.
    for i, a in enumerate(args):
        if os.path.basename(a) in ("c++", "g++", "clang++") or os.path.basename(a).startswith(
            ("g++-", "clang++-")
        ):
            args = args[i:]
            break
    out, skip = [], False
    for a in args:
        if skip:
            skip = False
            continue
        if a in ("-o", "-MF", "-MT", "-MQ"):
            skip = True
            continue
        if a in ("-c", "-MD", "-MMD"):
            continue
        out.append(a)
    return out + ["-E"]


def key_of(unit, entry, root, fixed):
    pre = subprocess.run(
        preprocess_args(entry), cwd=entry["directory"], capture_output=True, check=False
    )
    if pre.returncode != 0:
        return None
    text = pre.stdout.replace(root.encode(), b"@ROOT@")
    h = hashlib.sha256(fixed)
    h.update(os.path.relpath(os.path.realpath(unit), root).encode())
    h.update(b"\0")
    h.update(" ".join(preprocess_args(entry)).replace(root, "@ROOT@").encode())
    h.update(b"\0")
    h.update(text)
    return h.hexdigest()


def main():
    build, units = sys.argv[1], sys.argv[2:]
    root = os.path.realpath(os.getcwd())
    commands = compile_commands(build)
    use_cache = os.environ.get("VOXTAR_TIDY_CACHE", "on") != "off"
    store = cache_dir()
    os.makedirs(store, exist_ok=True)
    version = subprocess.run([TIDY, "--version"], capture_output=True, check=True).stdout
    with open(".clang-tidy", "rb") as f:
        fixed = version + b"\0" + f.read() + b"\0"

    def check(unit):
        entry = commands[os.path.realpath(unit)]
        key = key_of(unit, entry, root, fixed) if use_cache else None
        if key and os.path.exists(os.path.join(store, key)):
            return unit, True, True, ""
        run = subprocess.run(
            [TIDY, "-p", build, "--quiet", "--extra-arg=-Wno-unknown-warning-option", unit],
            capture_output=True,
            text=True,
            check=False,
        )
        clean = run.returncode == 0 and "warning:" not in run.stdout and "error:" not in run.stdout
        if clean and key:
            with open(os.path.join(store, key), "w", encoding="utf-8") as f:
                f.write(unit + "\n")
        return unit, clean, False, run.stdout

    failed, cached = 0, 0
    workers = os.cpu_count() or 1
    with concurrent.futures.ThreadPoolExecutor(max_workers=workers) as pool:
        for unit, clean, was_cached, output in pool.map(check, units):
            cached += was_cached
            if not clean:
                failed += 1
                sys.stdout.write(output)
                print(f"clang-tidy: findings in {unit}", file=sys.stderr)
    print(f"clang-tidy: {len(units)} translation units, {cached} unchanged since a clean run")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
