# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the scripts that run a test command against a private server of their own
# (with-pulseaudio.sh, with-x-server.sh). Sets no_server, the exit status for "the server could not
# start": 77 (skipped) outside CI; under CI (CI set and not "false") 1, so a missing install step
# cannot pass unseen. Checks that a command was given.
no_server=77
if [ -n "${CI:-}" ] && [ "${CI:-}" != "false" ]; then
  no_server=1
fi
if [ $# -eq 0 ]; then
  echo "usage: $0 CMD [ARG...]" >&2
  exit 2
fi
