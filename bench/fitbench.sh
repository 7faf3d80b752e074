#!/usr/bin/env bash
# The template fit at full size: the 190,676-cell sample template fitted to
# synthetic raw scans of about 300,000 triangles (bench/fitcase.cpp: a smooth
# field of up to 15 mm, re-triangulated, cut open below the ears, holes at
# both ears, the crown and three random places, moved by up to 25 degrees and
# 60 mm, landmarks with 1 mm of noise), one case per seed, and to the
# sample's raw scan. Prints, per case, the time of the fit, the errors where
# the scan has surface (and, for reference, those of a plain projection of
# the template along its normals from the true alignment), the head-shape
# measures of the fitted and the true template and their celldist. Not a
# test: it prints figures and asserts nothing.
#   bash bench/fitbench.sh [SEEDS...]      (default: 1 2 3)
#   FIELD=any bash bench/fitbench.sh ...   the field's bumps push in random directions, along
#                                          the surface as much as across it
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
seeds=("$@")
field=()
[ "${FIELD:-}" != any ] || field=(any)
[ ${#seeds[@]} -gt 0 ] || seeds=(1 2 3)
cmake --build "$build" -j"$(nproc)" --target fittemplate fitcase makesample headshape celldist >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/sample/makesample" "$work" >/dev/null
tool() { "$build/tools/$1/$1" "${@:2}"; }
echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"

# headshape's measures of the true (first) and the fitted surface, and how
# far apart they are: per cent, CVAI in points.
compare() {
  tool headshape "$1" "$2" | awk -F '\t' '
    NR == 1 { for (i = 2; i <= NF; i++) name[i] = $i; next }
    NR == 2 { for (i = 2; i <= NF; i++) truth[i] = $i; next }
    NR == 3 { for (i = 2; i <= NF; i++) {
        if (name[i] == "level" || name[i] == "plagiocephaly_level") continue
        if (name[i] == "posterior_flat_side") { printf "    %-14s true %10s  fitted %10s\n", name[i], truth[i], $i; continue }
        if (name[i] == "measured_from") { printf "    %-14s true %10.4g  fitted %10.4g  %+.1f mm\n", name[i], truth[i], $i, $i - truth[i]; continue }
        if (name[i] == "cvai" || name[i] == "cva") d = sprintf("%+.3f points", $i - truth[i])
        else d = sprintf("%+.3f%%", truth[i] != 0 ? 100 * ($i - truth[i]) / truth[i] : 0)
        printf "    %-14s true %10.4g  fitted %10.4g  %s\n", name[i], truth[i], $i, d } }'
  tool celldist "$1" "$2" "$work/d.clr" 5 -5 "$work/x.clr" "$work/y.clr" "$work/z.clr" >/dev/null || true
  awk 'NR > 3 { s += ($1 < 0 ? -$1 : $1); n++ } END { printf "    celldist mean absolute distance %.3f mm\n", s / n }' "$work/d.clr"
}

fit() {
  local dir=$1 scan=$2 templateLandmarks=$3 scanLandmarks=$4
  local start end status=0
  start=$EPOCHREALTIME
  tool fittemplate "$work/template.vtk" "$scan" "$templateLandmarks" "$scanLandmarks" "$dir/fitted.vtk" \
    >"$dir/log.txt" || status=$?
  end=$EPOCHREALTIME
  echo "  fittemplate: $(awk "BEGIN { printf \"%.1f\", $end - $start }") s, exit status $status"
  sed 's/^/    /' "$dir/log.txt"
}

for seed in "${seeds[@]}"; do
  dir=$work/case$seed
  mkdir -p "$dir"
  "$build/bench/fitcase" make "$work/template.vtk" "$dir" "$seed" 300000 "${field[@]}"
  echo
  echo "case $seed: $(awk '{ print $1 }' <(od -An -tu4 -j80 -N4 "$dir/scan.stl")) scan triangles"
  fit "$dir" "$dir/scan.stl" "$dir/template_landmarks.crv" "$dir/scan_landmarks.crv"
  [ -f "$dir/fitted.vtk" ] || continue
  "$build/bench/fitcase" score "$dir" "$dir/fitted.vtk" "$dir/log.txt" | sed 's/^/  /'
  "$build/bench/fitcase" project "$work/template.vtk" "$dir" "$dir/projected.vtk" "$dir/projected.txt"
  echo "  for reference, each template point moved along its normal onto the scan, from the true alignment:"
  "$build/bench/fitcase" score "$dir" "$dir/projected.vtk" "$dir/projected.txt" | sed -n '2p;4p' | sed 's/^/  /'
  echo "  head shape, true deformed template against the fitted one:"
  compare "$dir/truth.vtk" "$dir/fitted.vtk"
done

echo
echo "the sample's raw scan (the first scan, re-triangulated, moved, with holes):"
fit "$work" "$work/rawscan.stl" "$work/rawscan_template_landmarks.crv" "$work/rawscan_landmarks.crv"
if [ -f "$work/fitted.vtk" ]; then
  echo "  head shape, first scan against the fitted raw scan:"
  compare "$work/firstscan.vtk" "$work/fitted.vtk"
fi
