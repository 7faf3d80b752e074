#!/usr/bin/env bash
# Runs one tool for a job of the cohort workflow:
#   run_tool.sh STATUS LOG FOLDER OUT TOOL [ARGUMENT...]
# runs TOOL with its arguments in FOLDER, its standard output into the file
# OUT (into LOG when OUT is "-") and its error output into LOG. A run that
# ends with an exit status other than STATUS (celldist and mirrorasym end
# with 1 when done, the other tools with 0) fails the job: what the tool
# printed is kept in LOG and shown on the error output, so that it also
# stands in Snakemake's own log.
set -uo pipefail
expected=$1
log=$(realpath -m "$2")
folder=$3
out=$4
shift 4
mkdir -p "$(dirname "$log")"
if [ "$out" = - ]; then
  (cd "$folder" && exec "$@") >"$log" 2>&1
else
  out=$(realpath -m "$out")
  (cd "$folder" && exec "$@") >"$out" 2>"$log"
fi
status=$?
if [ "$status" -ne "$expected" ]; then
  [ "$out" = - ] || cat "$out" >>"$log"
  tool=$(basename "$1")
  [ "$tool" != with_display.sh ] || tool=$(basename "$2")
  echo "$tool ended with exit status $status (done is $expected):" >&2
  cat "$log" >&2
  exit 1
fi
