#!/usr/bin/env bash
# Differential check of the fast closest-point and line queries
# (SurfaceLocator) against vtkCellLocator itself: COUNT random queries of each
# kind (a million by default) on the sample scan and on the benchmark's
# families, every answer compared to the last bit. Not part of the regular
# suite (it takes minutes); prints the counts and fails on any difference.
#   bash scripts/locatordiff.sh [COUNT] [SEED]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
count=${1:-1000000}
seed=${2:-1}
BUILD_DIR=$build bash "$root/scripts/setup.sh" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/sample/makesample" "$work" >/dev/null
"$build/bench/makefamilies" "$work" "$work" "$seed"
status=0
for surface in finalscan.vtk template.vtk noisy2.vtk noisy1-9.vtk; do
  echo "== $surface"
  "$build/bench/locatordiff" "$work/$surface" "$count" "$seed" || status=1
done
exit $status
