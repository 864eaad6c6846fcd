#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package voxtar_VERSION_ARCH.deb in the top directory: the release preset with
# Debian's hardening flags, installed under /usr and packed by CPack. Usage: scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

scripts/install-deps.sh dpkg-dev file binutils

# The flags Debian builds its own packages with (hardening: fortify, stack protector, relro, now).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS)"
cmake --preset release -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags"
cmake --build --preset release -j "$(nproc)"

out="$root/build/release/package"
rm -rf "$out"
(cd build/release && cpack -G DEB -B "$out")
deb="$(find "$out" -maxdepth 1 -name 'voxtar_*.deb' -print -quit)"
rm -f "$root"/voxtar_*.deb
mv "$deb" "$root/"
echo "Package: $root/$(basename "$deb")"
