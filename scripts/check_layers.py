#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Fails on an include that runs against the house's layers (docs/architecture.md).

Each folder may include its own headers and those of the folders below it in LAYERS (and,
through them, theirs). A private header (NAME_p.h) is its folder's own: only that folder and its
tests include it. tests/F and bench/F stand where F stands, with the test signals (testing/) and
the tests' support beside them; a benchmark drives whatever it measures. Usage: scripts/check_layers.py [FILE...] (default: every tracked
C++ file). Run from the source root.
"""

import re
import subprocess
import sys

# What each folder may include directly, besides itself. Keep it in step with
# docs/architecture.md.
LAYERS = {
    "platform": [],
    "text": ["platform"],
    "lesson": ["text"],
    "audio": ["platform"],
    "measures": ["audio", "lesson"],
    "import": ["lesson"],
    "history": ["measures"],
    "report": ["measures"],
    "export": ["measures"],
    "textcheck": ["measures"],
    "session": ["history", "report", "export", "import", "textcheck"],
    "cli": ["history", "report", "export", "import", "textcheck"],
    "ui": ["session"],
    "app": ["ui"],
    "testing": ["audio"],
    "fuzz": ["audio", "lesson"],
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/([^"]+)"', re.M)


def closure():
    allowed = {}

    def below(folder, seen):
        for lower in LAYERS.get(folder, []):
            if lower not in seen:
                seen.add(lower)
                below(lower, seen)
        return seen

    for folder in LAYERS:
        allowed[folder] = below(folder, {folder})
    return allowed


def standing(path):
    """The folder a file stands in for the check, and whether it is a test or benchmark."""
    parts = path.split("/")
    if parts[0] in ("tests", "bench") and len(parts) > 2:
        return parts[1], True
    return parts[0], False


def main():
    files = sys.argv[1:] or subprocess.run(
        ["git", "ls-files", "*.cpp", "*.h"], capture_output=True, text=True, check=True
    ).stdout.split()
    allowed = closure()
    findings = []
    for path in files:
        folder, test = standing(path)
        if path.startswith("bench/") or folder not in allowed:
            continue
        may = set(allowed[folder])
        if test:
            may |= {"testing", "tests", "bench"} | allowed["testing"]
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        for match in INCLUDE.finditer(text):
            target, header = match.group(1), match.group(2)
            line = text.count("\n", 0, match.start()) + 1
            if target not in allowed and target not in ("tests", "bench", "testing"):
                continue
            if target not in may:
                findings.append(f"{path}:{line}: {folder} may not include {target}/{header}")
            elif header.endswith("_p.h") and target != folder:
                findings.append(f"{path}:{line}: {target}/{header} is private to {target}/")
    for finding in findings:
        print(finding)
    print(f"layers: {len(files)} files, {len(findings)} includes against the layers")
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main())
