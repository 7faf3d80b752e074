#!/usr/bin/env bash
# Runs a command that renders through X: as it is when DISPLAY is set, else
# under a virtual display of its own. Xvfb picks a free display number itself
# (-displayfd), so commands that start together (workflow jobs, tests run in
# parallel) do not collide, as xvfb-run -a's may. WITH_DISPLAY_XVFB_ARGS
# adds arguments to Xvfb (such as "-extension GLX"). -noreset keeps the
# server as it is between clients: a server that resets when its last client
# leaves refuses the next one for a moment (a tool that renders picture after
# picture, each by a child of its own, met it as "Cannot open the X display").
#   with_display.sh COMMAND [ARGUMENT...]
set -uo pipefail
if [ -n "${DISPLAY:-}" ]; then
  exec "$@"
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkfifo "$scratch/display"
# shellcheck disable=SC2086 # the extra arguments are words
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset ${WITH_DISPLAY_XVFB_ARGS:-} 3>"$scratch/display" 2>/dev/null &
server=$!
read -r number <"$scratch/display"
if [ -z "$number" ]; then
  echo "Cannot start a virtual X display (Xvfb) for $(basename "$1")" >&2
  exit 1
fi
DISPLAY=:$number "$@"
status=$?
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
exit $status
