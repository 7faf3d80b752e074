#!/usr/bin/env bash
# Runs a command that renders through X: as it is when DISPLAY is set, else
# under a virtual display of its own. Xvfb picks a free display number itself
# (-displayfd), so commands that start together (workflow jobs, tests run in
# parallel) do not collide, as xvfb-run -a's may. WITH_DISPLAY_XVFB_ARGS
# adds arguments to Xvfb (such as "-extension GLX").
#   with_display.sh COMMAND [ARGUMENT...]
set -uo pipefail
if [ -n "${DISPLAY:-}" ]; then
  exec "$@"
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkfifo "$scratch/display"
# shellcheck disable=SC2086 # the extra arguments are words
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp ${WITH_DISPLAY_XVFB_ARGS:-} 3>"$scratch/display" 2>/dev/null &
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
