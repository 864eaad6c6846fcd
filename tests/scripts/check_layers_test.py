#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The layering check fails on an include against the layers and passes the allowed ones."""

import os
import subprocess
import sys
import tempfile

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                      "check_layers.py")

# (file, its include, whether the check must pass)
CASES = [
    ("text/bad.h", "ui/waveform_view.h", False),  # up the layers
    ("measures/bad.cpp", "history/take_history.h", False),  # a sibling above
    ("session/bad.cpp", "audio/pulse_device_p.h", False),  # another room's private header
    ("tests/text/bad_test.cpp", "lesson/lesson.h", False),  # a test stands where its room does
    ("history/good.cpp", "platform/outcome.h", True),  # down through the layers
    ("tests/audio/good_test.cpp", "testing/tone_file.h", True),
]


def main():
    failures = 0
    for path, include, passes in CASES:
        with tempfile.TemporaryDirectory() as root:
            os.makedirs(os.path.join(root, os.path.dirname(path)))
            with open(os.path.join(root, path), "w", encoding="utf-8") as f:
                f.write(f'#include "{include}"\n')
            run = subprocess.run([sys.executable, SCRIPT, path], cwd=root, capture_output=True,
                                 text=True, check=False)
        if (run.returncode == 0) != passes:
            failures += 1
            print(f"{path} including {include}: exit {run.returncode}\n{run.stdout}")
    print(f"check_layers: {len(CASES)} cases, {failures} wrong")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
