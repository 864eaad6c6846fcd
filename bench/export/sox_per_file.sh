#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The export without voxtar-lesson: what a user would otherwise run, sox once per take in a shell
# loop. Cuts the silence before and after the voice down to 0.2 s (silence, reversed, then pad),
# resamples with sox's very high quality rate, normalizes (sox has no LUFS target: the nearest is
# its peak normalization, which also reads each take twice) and dithers to 16 bits.
# With "gain" for RATE: only the normalization and the dither, at the take's own rate.
# Usage: bench/export/sox_per_file.sh TAKES_DIR OUT_DIR [RATE|gain]
set -euo pipefail
in="$1"
out="$2"
rate="${3:-22050}"
mkdir -p "$out"
for take in "$in"/*.wav; do
  if [ "$rate" = gain ]; then
    sox "$take" -b 16 "$out/$(basename "$take")" gain -n -3 dither
  else
    sox "$take" -b 16 "$out/$(basename "$take")" \
      silence 1 0.03 -50d reverse silence 1 0.03 -50d reverse pad 0.2 0.2 \
      rate -v "$rate" gain -n -3 dither
  fi
done
