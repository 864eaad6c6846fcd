#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The report as a browser renders it: makes a report of a copy of the demo with a lesson of names
# and texts that are markup added, loads it in headless Chromium (no network, a fresh profile)
# and checks the rendered page: one titled chart mark per take that `takes` measured, the markup
# shown as text and never run, nothing the page would fetch. Keeps a screenshot.
#
# Exit status: 0 when the page is right, 1 when not, 77 (skipped) when Chromium is missing; under
# CI (CI set and not "false") a missing Chromium fails, so a missing install step cannot pass
# unseen.
#
# Usage: in-chromium.sh VOXTAR_LESSON DEMO_DIR SCREENSHOT.png
set -euo pipefail
tool="$(realpath "$1")"
demo="$(realpath "$2")"
screenshot="$(realpath -m "$3")"

if ! command -v chromium >/dev/null; then
  echo "in-chromium: chromium is not installed" >&2
  [ -n "${CI:-}" ] && [ "${CI:-}" != "false" ] && exit 1
  exit 77
fi
work="$(mktemp -d "${TMPDIR:-/tmp}/voxtar-report.XXXXXX")"
trap 'rm -rf "$work"' EXIT
fail() {
  echo "in-chromium: $*" >&2
  exit 1
}

# The measure cache of the copy goes with it, not into the user's home.
export XDG_CACHE_HOME="$work/cache"
cp -r "$demo" "$work/course"
cd "$work/course"
printf '%s\r\n' \
  'a<b>.wav <script>document.title="run"</script>' \
  "q\"&'.wav <img src=x onerror=alert(1)>" \
  'c.wav </svg></figure><h1>escaped</h1>' \
  'd.wav Fine words' \
  'e.wav Not a sound file' >Ini/odd.idx
mkdir -p Prompt/odd
for name in 'a<b>.wav' "q\"&'.wav" c.wav d.wav; do
  cp Prompt/unit01/a002.wav "Prompt/odd/$name"
done
printf 'RIFF' >Prompt/odd/e.wav

# What takes measured (it exits with 1: some takes are flagged).
takes="$({ "$tool" takes --json Ini/*.idx || true; } | grep -o '"status": "checked"' | wc -l)"
"$tool" report Ini/*.idx -o report.html >/dev/null || fail "report exited with $?"
# Self-contained: nothing is loaded from elsewhere, nothing runs (escaped text cannot hold a <
# or a ").
if grep -Eiq '<(script|link|img|iframe|object|embed)|(src|href)="[^#]|url\(|@import' report.html; then
  fail "report.html refers to something outside it or holds a script"
fi

chromium_run() {
  local sandbox=()
  [ "$(id -u)" -eq 0 ] && sandbox=(--no-sandbox)
  timeout 120 chromium --headless "${sandbox[@]}" --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$(mktemp -d "$work/profile.XXXXXX")" "$@" 2>>"$work/chromium.log"
}
chromium_run --dump-dom "file://$PWD/report.html" >dom.html || {
  cat "$work/chromium.log" >&2
  fail "chromium could not render report.html"
}
marks="$(grep -o '<g class="take-mark[^"]*"><title>[0-9]' dom.html | wc -l)"
[ "$marks" -eq "$takes" ] || fail "$marks chart marks for $takes takes"
[ "$takes" -eq 6 ] || fail "$takes takes measured, 6 expected"
for element in '<script' '<img' '<h1>escaped'; do
  if grep -q "$element" dom.html; then
    fail "the lesson's text became markup: $element"
  fi
done
grep -q '<title>Takes report</title>' dom.html || fail "the script in a text ran"
grep -qF '&lt;/svg&gt;&lt;/figure&gt;&lt;h1&gt;escaped' dom.html || fail "a text is not shown"

mkdir -p "$(dirname "$screenshot")"
rm -f "$screenshot"
chromium_run --window-size=1000,2400 --screenshot="$screenshot" "file://$PWD/report.html" \
  >/dev/null || fail "chromium took no screenshot"
[ "$(head -c 8 "$screenshot" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] ||
  fail "$screenshot is no PNG"
echo "in-chromium: $marks marks for $takes takes; screenshot $screenshot"
