#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks the Debian package: lintian without errors, the desktop entry and the AppStream metadata
# valid, the manual pages render without warnings, and the programs run from the package's
# content unpacked into a temporary root. Usage: scripts/check-package.sh [PACKAGE.deb]
# (without an argument the package is built first with scripts/package.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh lintian desktop-file-utils appstream groff-base man-db
if [ $# -eq 0 ]; then
  scripts/package.sh
  set -- voxtar_*.deb
fi
deb="$1"
[ -f "$deb" ] || { echo "check-package: no package '$deb'" >&2; exit 1; }

failed=0
fail() {
  echo "check-package: FAIL: $*" >&2
  failed=1
}

tmp="$(mktemp -d "${TMPDIR:-/tmp}/voxtar-package.XXXXXX")"
trap 'rm -rf "$tmp"' EXIT
dpkg-deb -x "$deb" "$tmp/root"
root="$tmp/root"
version="$(dpkg-deb -f "$deb" Version)"

echo "== control fields"
for field in Package Version Architecture Maintainer Section Depends Description; do
  [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "control field $field is missing"
done

echo "== lintian"
# Errors fail the check; warnings are shown.
lintian --fail-on error "$deb" || fail "lintian reports errors"

echo "== desktop entry and metadata"
desktop="$root/usr/share/applications/io.github.voxtar.Voxtar.desktop"
metainfo="$root/usr/share/metainfo/io.github.voxtar.Voxtar.metainfo.xml"
desktop-file-validate "$desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
grep -q "<release version=\"$version\"" "$metainfo" ||
  fail "the metainfo has no release $version"
icon="$(sed -n 's/^Icon=//p' "$desktop")"
for size in 16x16 24x24 32x32 48x48 256x256; do
  [ -f "$root/usr/share/icons/hicolor/$size/apps/$icon.png" ] || fail "no $size icon $icon"
done
[ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon $icon"

echo "== manual pages"
for page in voxtar voxtar-lesson; do
  file="$root/usr/share/man/man1/$page.1.gz"
  if [ ! -f "$file" ]; then
    fail "no manual page $page.1"
    continue
  fi
  warnings="$(zcat "$file" | groff -man -Tutf8 -ww -z 2>&1)"
  [ -z "$warnings" ] || fail "$page.1 renders with warnings: $warnings"
  grep -q "Voxtar $version" <(zcat "$file") || fail "$page.1 does not carry version $version"
done

echo "== the programs from the package"
for program in voxtar-lesson voxtar; do
  # --version needs no display and no installed files beyond the libraries.
  got="$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/$program" --version)" ||
    fail "$program --version exits with a failure"
  [ "$got" = "$program $version" ] || fail "$program --version says '$got', not '$program $version'"
  echo "$got"
done
"$root/usr/bin/voxtar-lesson" check "$(pwd)/demo/Ini/unit01.idx" >/dev/null ||
  fail "voxtar-lesson check on the demo lesson"

if [ "$failed" -ne 0 ]; then
  exit 1
fi
echo "check-package: $deb is fine"
