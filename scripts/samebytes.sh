#!/usr/bin/env bash
# Runs the seven surface tools of two builds on the same inputs and compares
# everything they give, byte for byte: standard output, exit status and every
# file written. For checking that a change of the code changed no result.
# Not part of the regular suite (it reads and writes full-size surfaces).
#   bash scripts/samebytes.sh OLD_TOOLS_DIR [NEW_TOOLS_DIR] [SEED...]
# A tools folder holds the programs by name (celldist, mirrorasym, ...), or is
# a build folder (tools/<name>/<name>). NEW defaults to this checkout's build.
# The inputs: the full-size sample, and for each SEED (1 2 3 by default) the
# benchmark's families (noisy scans, the same with nine digits, points off the
# surface, random segments), made by the new build.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
old=$(realpath "$1")
new=$(realpath "${2:-$root/build}")
shift $(($# < 2 ? $# : 2))
seeds=("$@")
[ ${#seeds[@]} -gt 0 ] || seeds=(1 2 3)
builds=${new}
[ -d "$new/sample" ] || builds=$root/build

tool_in() {
  if [ -x "$1/$2" ]; then echo "$1/$2"; else echo "$1/tools/$2/$2"; fi
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=$work/data
mkdir -p "$data"
"$builds/sample/makesample" "$data" >/dev/null
for seed in "${seeds[@]}"; do
  mkdir -p "$data/f$seed"
  "$builds/bench/makefamilies" "$data" "$data/f$seed" "$seed" >/dev/null
done
# A curve with blank lines, words and short rows; an empty one.
printf '1 2 3\n\nword 7\n102 99 300\n4 5\n' >"$data/odd.crv"
: >"$data/empty.crv"
head -n 2001 "$data/headring.crv" >"$data/ring2001.crv"

# Runs case NAME of build BIN: the command line after NAME, run in a folder
# of its own; its output and status are kept there.
run_case() {
  local bin=$1 out=$2 name=$3
  shift 3
  mkdir -p "$out/$name"
  local args=()
  for a in "$@"; do
    case $a in
      @*) args+=("$(tool_in "$bin" "${a#@}")") ;;
      *) args+=("$a") ;;
    esac
  done
  (cd "$out/$name" && { status=0; "${args[@]}" >stdout 2>/dev/null || status=$?; echo $status >status; })
}

cases() {
  local bin=$1 out=$2 d=$data
  local pairs=("$d/firstscan.vtk $d/finalscan.vtk" "$d/template.vtk $d/finalscan.vtk")
  for seed in "${seeds[@]}"; do
    pairs+=("$d/f$seed/noisy1.vtk $d/f$seed/noisy2.vtk" "$d/f$seed/noisy1-9.vtk $d/f$seed/noisy2-9.vtk")
  done
  local k=0
  for pair in "${pairs[@]}"; do
    set -- $pair
    local a=$1 b=$2
    k=$((k + 1))
    run_case "$bin" "$out" "celldist$k" @celldist "$a" "$b" d.clr 5.0 -5 x.clr y.clr z.clr
    run_case "$bin" "$out" "mirrorasym$k" @mirrorasym "$b" "$d/template.vtk" s.clr m.clr x.clr y.clr z.clr -0.50 5 190676
    for mask in y n; do
      run_case "$bin" "$out" "scancompare$k$mask" @scancompare "$a" "$b" "$d/template_mask.clr" s.clr f.clr l.clr $mask
    done
    for flag in y n; do
      run_case "$bin" "$out" "helmetdiff$k$flag" @helmetdiff "$a" "$b" vx.clr -5 5 vy.clr -5.0 5 vz.clr -5 5 \
        vxyz.clr -5 5 "$d/helmet_mask.clr" scaled.vtk $flag
    done
    printf '%s\n' "$a" "$b" "$d/template.vtk" >"$out/list$k.txt"
    run_case "$bin" "$out" "meshmean$k" @meshmean "$out/list$k.txt" mean.vtk
  done
  for seed in "${seeds[@]}"; do
    local f=$d/f$seed
    run_case "$bin" "$out" "curvesnap-off$seed" @curvesnap "$f/noisy2.vtk" "$f/offcurve.crv" out.sln
    run_case "$bin" "$out" "lineintersect-rand$seed" @lineintersect "$f/noisy2.vtk" "$f/randsegs.crv" out.log
    run_case "$bin" "$out" "curvesnap-ring$seed" @curvesnap "$f/noisy1-9.vtk" "$d/headring.crv" out.sln
    run_case "$bin" "$out" "lineintersect-seg$seed" @lineintersect "$f/noisy1-9.vtk" "$d/segments.crv" out.log
  done
  for surface in finalscan template; do
    for curve in headring segments odd empty ring2001; do
      run_case "$bin" "$out" "curvesnap-$surface-$curve" @curvesnap "$d/$surface.vtk" "$d/$curve.crv" out.sln
      run_case "$bin" "$out" "lineintersect-$surface-$curve" @lineintersect "$d/$surface.vtk" "$d/$curve.crv" out.log
    done
  done
}

echo "running the old build's tools from $old"
cases "$old" "$work/old"
echo "running the new build's tools from $new"
cases "$new" "$work/new"
# The list files name the folders of each side: compare everything else.
rm -f "$work"/old/list*.txt "$work"/new/list*.txt
count=$(find "$work/old" -type f | wc -l)
if diff -r "$work/old" "$work/new" >"$work/diff.txt"; then
  echo "the same bytes in all $count files of $(ls "$work/old" | wc -l) runs"
else
  head -n 40 "$work/diff.txt"
  echo "the builds differ"
  exit 1
fi
