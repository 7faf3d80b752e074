#!/usr/bin/env bash
# Sets up and builds on a fresh machine if needed, writes the sample head scans
# (once) and runs every tool on them, into demo-output/.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
BUILD_DIR=$build bash "$root/scripts/setup.sh"

data=$root/sample-data
out=$root/demo-output
if [ ! -f "$data/template.vtk" ]; then
  mkdir -p "$data"
  "$build/sample/makesample" "$data"
fi
mkdir -p "$out"
tool() { "$build/tools/$1/$1" "${@:2}"; }
run() {
  echo; echo "\$ $*"
  local status=0
  tool "$@" || status=$?
  echo "(exit status $status)"
}

cd "$out"
run celldist "$data/finalscan.vtk" "$data/firstscan.vtk" distance.clr 5 -5 distance_x.clr distance_y.clr distance_z.clr
run helmetdiff "$data/firstscan.vtk" "$data/finalscan.vtk" helmet_x.clr -5 5 helmet_y.clr -5 5 helmet_z.clr -5 5 \
  helmet_radial.clr -5 5 "$data/helmet_mask.clr" scaled_target.vtk y

echo
echo "Wrote in $out:"
ls -l "$out"
