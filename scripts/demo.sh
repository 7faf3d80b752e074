#!/usr/bin/env bash
# Sets up and builds on a fresh machine if needed, writes the sample head scans
# (once) and runs every tool on them, into demo-output/; then shows every color
# file as a surface for VTK viewers, a picture and a row of statistics.tsv.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
BUILD_DIR=$build bash "$root/scripts/setup.sh"

data=$root/sample-data
out=$root/demo-output
if [ ! -f "$data/template.vtk" ] || [ ! -f "$data/headring.crv" ] || [ ! -f "$data/segments.crv" ] ||
  [ ! -f "$data/cohort/visits.tsv" ] || [ ! -f "$data/rawscan.stl" ]; then
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
cells=$(awk '$1 == "POLYGONS" { print $2; exit }' "$data/template.vtk")
for scan in firstscan finalscan; do
  run mirrorasym "$data/$scan.vtk" "$data/template.vtk" "${scan}_asymmetry.clr" "${scan}_asymmetry_abs.clr" \
    "${scan}_asymmetry_x.clr" "${scan}_asymmetry_y.clr" "${scan}_asymmetry_z.clr" -5 5 "$cells"
done
# scancompare appends its extremes to Range_values.txt in the working folder:
# start from an empty report so that it shows this demo's two runs.
rm -f Range_values.txt
run scancompare "$data/firstscan.vtk" "$data/finalscan.vtk" "$data/template_mask.clr" \
  compare_sub.clr compare_ratio_first.clr compare_ratio_final.clr y
run scancompare "$data/firstscan.vtk" "$data/finalscan.vtk" "$data/template_mask.clr" \
  compare_all_sub.clr compare_all_ratio_first.clr compare_all_ratio_final.clr n
echo; echo "Range_values.txt:"; cat Range_values.txt
printf '%s\n' "$data/template.vtk" "$data/firstscan.vtk" "$data/finalscan.vtk" >scans.txt
run meshmean scans.txt average.vtk
run curvesnap "$data/finalscan.vtk" "$data/headring.crv" headring_snapped.crv
run lineintersect "$data/finalscan.vtk" "$data/segments.crv" landmarks.log
run helmetdiff "$data/firstscan.vtk" "$data/finalscan.vtk" helmet_x.clr -5 5 helmet_y.clr -5 5 helmet_z.clr -5 5 \
  helmet_radial.clr -5 5 "$data/helmet_mask.clr" scaled_target.vtk y

# The head-shape measures of the first and the final scan, side by side.
echo; echo "\$ headshape firstscan.vtk finalscan.vtk > headshape.tsv"
status=0
tool headshape "$data/firstscan.vtk" "$data/finalscan.vtk" >headshape.tsv || status=$?
echo "(exit status $status)"
awk -F '\t' '{ for (i = 1; i <= NF; i++) cell[i, NR] = (i == 1 && NR > 1) ? (NR == 2 ? "first" : "final") : $i }
  END { for (i = 1; i <= NF; i++) printf "  %-20s %12s %12s\n", cell[i, 1], cell[i, 2], cell[i, 3] }' headshape.tsv

# The raw scan (an STL with its own triangles, position and orientation, open
# below the ears, with holes) brought onto the template mesh, then measured
# like the first scan it was made from, and compared with it cell by cell.
run fittemplate "$data/template.vtk" "$data/rawscan.stl" "$data/rawscan_template_landmarks.crv" \
  "$data/rawscan_landmarks.crv" rawscan_fitted.vtk
echo; echo "\$ headshape firstscan.vtk rawscan_fitted.vtk > rawscan_headshape.tsv"
status=0
tool headshape "$data/firstscan.vtk" rawscan_fitted.vtk >rawscan_headshape.tsv || status=$?
echo "(exit status $status)"
awk -F '\t' '{ for (i = 1; i <= NF; i++) cell[i, NR] = (i == 1 && NR > 1) ? (NR == 2 ? "first" : "raw, fitted") : $i }
  END { for (i = 1; i <= NF; i++) printf "  %-20s %12s %12s\n", cell[i, 1], cell[i, 2], cell[i, 3] }' rawscan_headshape.tsv
# celldist's color files of this comparison go to a folder of their own, out
# of the pictures below.
mkdir -p rawscan
run celldist "$data/firstscan.vtk" rawscan_fitted.vtk rawscan/distance.clr 5 -5 rawscan/x.clr rawscan/y.clr rawscan/z.clr
awk 'NR > 3 { s += ($1 < 0 ? -$1 : $1); n++ } END { printf "  mean absolute distance of the fitted raw scan from the first scan: %.3f mm\n", s / n }' \
  rawscan/distance.clr

# Every color file written above as a surface for VTK viewers (.vtp) and a
# picture (.png), each on the surface whose cells it colors (all sample
# surfaces share one mesh), and one statistics table over all of them.
surface_of() {
  case "$1" in
    finalscan_*) echo "$data/finalscan.vtk" ;; # mirrorasym on the final scan
    compare_*) echo "$data/template.vtk" ;;    # scancompare, on the template mesh
    *) echo "$data/firstscan.vtk" ;;           # the first scan: the source of the distance tools
  esac
}
# colorsnap and scanreport render through X: on a machine without a display,
# xvfb-run lends them a virtual one.
render() {
  if [ -n "${DISPLAY:-}" ]; then
    tool "$@"
  else
    xvfb-run -a "$build/tools/$1/$1" "${@:2}"
  fi
}
echo
echo "Surfaces (.vtp) and pictures (.png) of the color files:"
colorfiles=(*.clr)
for clr in "${colorfiles[@]}"; do
  name=${clr%.clr}
  surface=$(surface_of "$name")
  status=0
  tool colorsurface "$surface" "$name.vtp" "$clr" || status=$?
  [ "$status" -ne 0 ] || render colorsnap "$surface" "$clr" "$name.png" || status=$?
  echo "  $clr on $(basename "$surface"): $name.vtp $name.png (exit status $status)"
done
echo; echo "\$ colorstats *.clr > statistics.tsv"
status=0
tool colorstats "${colorfiles[@]}" >statistics.tsv || status=$?
echo "(exit status $status)"
column -t -s $'\t' statistics.tsv

# One page for the clinician: the measures, the maps and their statistics.
echo; echo "\$ scanreport firstscan.vtk finalscan.vtk template.vtk template_mask.clr report.html"
status=0
render scanreport "$data/firstscan.vtk" "$data/finalscan.vtk" "$data/template.vtk" "$data/template_mask.clr" \
  report.html || status=$?
echo "(exit status $status)"

# The sample cohort on the workflow engine, with the tools installed beside
# the build: r01's raw scans fitted, every visit measured, the first and the
# latest visit of each child compared, a page per child with its course, then
# the cohort's tables and averages, into demo-output/cohort/.
echo; echo "\$ cmake --install build --prefix build/install"
cmake --install "$build" --prefix "$build/install" >/dev/null
echo "\$ snakemake --snakefile workflow/Snakefile --cores $(nproc) --directory demo-output/cohort --config cohort=sample-data/cohort bin=build/install/bin"
status=0
snakemake --snakefile "$root/workflow/Snakefile" --cores "$(nproc)" --directory "$out/cohort" \
  --config cohort="$data/cohort" bin="$build/install/bin" >"$out/cohort.log" 2>&1 || status=$?
echo "(exit status $status; Snakemake's output in demo-output/cohort.log)"
echo "cohort_measures.tsv (some columns):"
cut -f 1-3,8,13,14,20,21,25 "$out/cohort/cohort_measures.tsv" | column -t -s $'\t'
echo "cohort_statistics.tsv (some columns):"
cut -f 1,2,3,6,9,10,11,12,13 "$out/cohort/cohort_statistics.tsv" | column -t -s $'\t'
echo "Each child's page: demo-output/cohort/<id>/report.html (r01: three raw scans, t01: three on the template)"

echo
echo "Wrote in $out:"
ls -l "$out"
