#!/usr/bin/env bash
# Sets up and builds on a fresh machine if needed, writes the sample head scans
# (once) and runs every tool on them, into demo-output/.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
BUILD_DIR=$build bash "$root/scripts/setup.sh"

data=$root/sample-data
out=$root/demo-output
if [ ! -f "$data/template.vtk" ] || [ ! -f "$data/headring.crv" ] || [ ! -f "$data/segments.crv" ]; then
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
run curvesnap "$data/finalscan.vtk" "$data/headring.crv" headring_snapped.crv
run lineintersect "$data/finalscan.vtk" "$data/segments.crv" landmarks.log

echo
echo "Wrote in $out:"
ls -l "$out"
