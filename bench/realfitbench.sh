#!/usr/bin/env bash
# The template fit on real heads at full size: the 190,676-cell sample
# template (an infant of six months) fitted to raw scans of the real heads
# that Debian ships (sample/realheads.h, fetched by scripts/fetch-realheads.sh
# into BUILD_DIR/realheads), each scaled to a head circumference, some
# pitched or made mirror-symmetric, cut 10 mm below the chin, re-triangulated
# to about 300,000 triangles, moved, their landmarks given with 1 mm of noise
# per coordinate (five, or the three on the midline). Prints, per case, the
# time of the fit, the distance of each fitted template landmark from the
# head's own (without the noise), and the head-shape measures of the fitted
# template against the scan's own in the fit's frame. Not a test: it prints
# figures and asserts nothing.
#   bash bench/realfitbench.sh [CASE...]
# A case is HEAD:CIRCUMFERENCE:PITCH:SYMMETRIC:SEED[:midline|:found], HEAD
# one of head, mannequin-devil and fsaverage, PITCH in degrees (+: the
# forehead forward), SYMMETRIC 1 for the head's right half mirrored; `found`
# fits without the scan's landmarks (fittemplate finds them).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(fsaverage:340:0:0:23 fsaverage:440:0:0:11 fsaverage:560:0:0:12 fsaverage:620:0:0:24
  fsaverage:470:0:1:13 fsaverage:470:0:0:14:midline fsaverage:480:15:0:19 fsaverage:480:-15:0:20
  head:440:0:0:15 head:560:0:0:16 head:480:15:0:21 head:480:-15:0:22
  mannequin-devil:440:0:0:17 mannequin-devil:560:0:0:18)
BUILD_DIR=$build bash "$root/scripts/fetch-realheads.sh" >/dev/null
cmake --build "$build" -j"$(nproc)" --target fittemplate fitcase makesample >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/sample/makesample" "$work" >/dev/null
sed -n '1p;4p;5p' "$work/rawscan_template_landmarks.crv" >"$work/midline.crv"
echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "case  time  landmarks from the head's own (mm)  length, width, circumference (fitted against scanned)  CI, CVAI (scanned -> fitted)"

for c in "${cases[@]}"; do
  IFS=: read -r head circumference pitch symmetric seed mode <<<"$c"
  dir=$work/$head-$circumference-$pitch-$symmetric-$seed
  mkdir -p "$dir"
  landmarks=$work/rawscan_template_landmarks.crv
  [ "${mode:-}" != midline ] || landmarks=$work/midline.crv
  "$build/bench/fitcase" real "$build/realheads" "$dir" "$head" "$circumference" "$pitch" "$symmetric" "$seed" \
    $([ "${mode:-}" != midline ] || echo midline) >/dev/null
  given=("$dir/scan_landmarks.crv")
  [ "${mode:-}" != found ] || given=()
  start=$EPOCHREALTIME
  status=0
  "$build/tools/fittemplate/fittemplate" "$work/template.vtk" "$dir/scan.stl" "$landmarks" "${given[@]}" \
    "$dir/fitted.vtk" >"$dir/log.txt" || status=$?
  seconds=$(awk "BEGIN { printf \"%.1f\", $EPOCHREALTIME - $start }")
  if [ "$status" -ne 0 ]; then
    echo "$c  ${seconds} s  failed: $(tail -1 "$dir/log.txt")"
    continue
  fi
  "$build/bench/fitcase" realscore "$work/template.vtk" "$landmarks" "$dir" "$dir/fitted.vtk" "$dir/log.txt" |
    awk -v c="$c" -v t="$seconds" '
      /^landmarks from/ { sub(/^[^:]*: /, ""); marks = $0 }
      { gsub(/,/, "") }
      $1 == "length:" { l = 100 * ($5 - $3) / $3 }
      $1 == "width:" { w = 100 * ($5 - $3) / $3 }
      $1 == "circumference:" { h = 100 * ($5 - $3) / $3 }
      $1 == "ci:" { ci = sprintf("%.2f -> %.2f", $3, $5) }
      $1 == "cvai:" { cvai = sprintf("%.2f -> %.2f", $3, $5) }
      END { printf "%s  %s s  %s  %+.2f%% %+.2f%% %+.2f%%  CI %s, CVAI %s\n", c, t, marks, l, w, h, ci, cvai }'
done
