#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian 12 packages that building, running and testing need, and any packages given
# as arguments (packaging tools); "bench" stands for what the benchmarks compare with (sox, for
# bench/export). Idempotent: only packages that are missing are installed; uses sudo when not run
# as root.
set -euo pipefail

extra=()
for p in "$@"; do
  if [ "$p" = bench ]; then
    extra+=(sox)
  else
    extra+=("$p")
  fi
done

packages=(
  g++ cmake ninja-build pkg-config git ccache
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  qt6-base-dev qt6-svg-dev libqt6svg6 qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
  libsndfile1-dev libpulse-dev libebur128-dev libsoxr-dev
  libespeak-ng-dev espeak-ng-data libfftw3-dev
  clang-14 libclang-rt-14-dev clang-tidy-14 clang-format-14
  pulseaudio pulseaudio-utils
  xvfb openbox x11-utils xdotool
  fonts-liberation
  chromium
  ${extra[@]+"${extra[@]}"}
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}"
