#!/usr/bin/env bash
# Times the tools on the full-size sample (190,676 cells) and on input families
# beside it, against a program that only reads the same surfaces with VTK.
# Each case runs RUNS times, the cases taking turns so that a slow spell of
# the machine hits them all alike; the tables show the median wall time, the
# median peak resident memory and the most threads the case ran on at once
# (from one more run with the thread probe, bench/threadprobe.cpp), then
# every tool's figures as ratios. Not a test: it prints figures and asserts
# nothing.
#   bash bench/benchmark.sh [RUNS] [SEED]
# The families (bench/makefamilies, from the sample's template, SEED 1 by
# default):
#   noisy  two scans that differ by smooth bumps of a few mm everywhere
#   digits the same two scans written with nine significant digits
#   curve  100,000 points 0 to 5 mm off the noisy scan, on both sides
#   lines  100,000 segments between random points near the noisy scan
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
runs=${1:-7}
seed=${2:-1}
BUILD_DIR=$build bash "$root/scripts/setup.sh" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/sample/makesample" "$work" >/dev/null
data=$work
fam=$work/families
mkdir -p "$fam"
"$build/bench/makefamilies" "$data" "$fam" "$seed" >/dev/null
cd "$work"
tool() { echo "$build/tools/$1/$1"; }

# A curve of 100,000 points: a spiral of 50 turns over the head from below the
# ears to the crown, 5% outside the sample's template ellipsoid.
curvePoints=100000
awk -v n=$curvePoints 'BEGIN {
  for (i = 0; i < n; i++) {
    t = i / n; az = 100 * 3.141592653589793 * t; el = -1.2 + 2.5 * t
    dx = cos(el) * cos(az); dy = cos(el) * sin(az); dz = sin(el)
    s = 1.05 / sqrt((dx / 72) ^ 2 + (dy / 95) ^ 2 + (dz / 90) ^ 2)
    printf "%.6g %.6g %.6g\n", 102.665 + s * dx, 114.1929 + s * dy, 75.9238 + s * dz
  }
}' >"$work/spiral.crv"
echo "0 0 0" >"$work/one.crv"
# 100,000 segments, two rows each, on directions spread evenly over the
# sphere: from half way to the template surface out to 1.2 times its distance,
# every fourth stopping at 0.85 times it, short of the surface.
segments=100000
awk -v n=$segments 'BEGIN {
  for (i = 0; i < n; i++) {
    dz = 1 - (2 * i + 1) / n; r = sqrt(1 - dz * dz); az = 2.399963229728653 * i
    dx = r * cos(az); dy = r * sin(az)
    s = 1 / sqrt((dx / 72) ^ 2 + (dy / 95) ^ 2 + (dz / 90) ^ 2)
    e = i % 4 == 3 ? 0.85 : 1.2
    printf "%.6g %.6g %.6g\n", 102.665 + 0.5 * s * dx, 114.1929 + 0.5 * s * dy, 75.9238 + 0.5 * s * dz
    printf "%.6g %.6g %.6g\n", 102.665 + e * s * dx, 114.1929 + e * s * dy, 75.9238 + e * s * dz
  }
}' >"$work/segments.crv"

# The cases: a name, then the command line.
names=()
declare -A commands
add_case() {
  names+=("$1")
  commands[$1]=$2
}
# The tools that compare two scans, on a pair of surfaces (prefix p, files a
# and b), with the reads and the legacy check alone beside them.
add_pair() {
  local p=$1 a=$2 b=$3
  add_case "${p}read" "$build/bench/readonly $a $b"
  add_case "${p}check" "$build/bench/checkonly $a $b"
  add_case "${p}celldist" "$(tool celldist) $b $a d.clr 5 -5 x.clr y.clr z.clr"
  add_case "${p}mirrorasym" "$(tool mirrorasym) $a $data/template.vtk a.clr m.clr x.clr y.clr z.clr -5 5 190676"
  add_case "${p}scancompare" "$(tool scancompare) $a $b $data/template_mask.clr s.clr r1.clr r2.clr n"
  add_case "${p}helmetdiff" "$(tool helmetdiff) $a $b vx.clr -5 5 vy.clr -5 5 vz.clr -5 5 vxyz.clr -5 5 $data/helmet_mask.clr scaled.vtk y"
  add_case "${p}helmetdiffn" "$(tool helmetdiff) $a $b vx.clr -5 5 vy.clr -5 5 vz.clr -5 5 vxyz.clr -5 5 $data/helmet_mask.clr scaled.vtk n"
  # VTK's writer writing the scaled target that helmetdiff writes (the write
  # alone timed, by the program itself).
  "$(tool helmetdiff)" $a $b vx.clr -5 5 vy.clr -5 5 vz.clr -5 5 vxyz.clr -5 5 "$data/helmet_mask.clr" "${p}scaled-made.vtk" y >/dev/null
  add_case "${p}write" "$build/bench/readonly --write written.vtk ${p}scaled-made.vtk"
  # headshape measures one scan: set against reading that one scan.
  add_case "${p}read1" "$build/bench/readonly $b"
  add_case "${p}headshape" "$(tool headshape) $b"
  # VTK's read of the scan and VTK's cell locator built over it, asked one
  # closest point and one line: what the tools that query a surface would
  # hold without an index of their own.
  add_case "${p}readlocator" "$build/bench/readonly --locator $b"
}
add_pair "" "$data/firstscan.vtk" "$data/finalscan.vtk"
add_pair noisy- "$fam/noisy1.vtk" "$fam/noisy2.vtk"
add_pair digits- "$fam/noisy1-9.vtk" "$fam/noisy2-9.vtk"
# meshmean averages 21 surfaces: the three sample scans seven times over (the
# same files again, so the benchmark's disk use stays small). Its time is set
# against reading the same 21 files once each; its memory against reading two
# surfaces, since it holds the surface just read and the average on the first
# surface's cells, while the 21-file baseline keeps every surface it read.
for ((k = 0; k < 7; k++)); do
  printf '%s\n' "$data/template.vtk" "$data/firstscan.vtk" "$data/finalscan.vtk"
done >"$work/list21.txt"
add_case read21 "$build/bench/readonly $(tr '\n' ' ' <"$work/list21.txt")"
add_case meshmean "$(tool meshmean) $work/list21.txt average.vtk"
# Reading the surface and building its search structures, with a single query.
add_case locator "$(tool curvesnap) $data/finalscan.vtk $work/one.crv one.sln"
add_case curvesnap "$(tool curvesnap) $data/finalscan.vtk $work/spiral.crv spiral.sln"
add_case lineintersect "$(tool lineintersect) $data/finalscan.vtk $work/segments.crv landmarks.log"
add_case noisy-locator "$(tool curvesnap) $fam/noisy2.vtk $work/one.crv one.sln"
add_case curve-curvesnap "$(tool curvesnap) $fam/noisy2.vtk $fam/offcurve.crv off.sln"
add_case lines-lineintersect "$(tool lineintersect) $fam/noisy2.vtk $fam/randsegs.crv rand.log"
# The whole report of the sample pair, the virtual display's start included.
add_case scanreport "$root/scripts/with_display.sh $(tool scanreport) $data/firstscan.vtk $data/finalscan.vtk $data/template.vtk $data/template_mask.clr report.html"

declare -A times memories writes
for ((i = 0; i < runs; i++)); do
  for name in "${names[@]}"; do
    start=$EPOCHREALTIME
    /usr/bin/time -q -f "%M" -o "$work/.memory" ${commands[$name]} >"$work/.output" 2>/dev/null || true
    end=$EPOCHREALTIME
    times[$name]+="$(awk "BEGIN { print $end - $start }") "
    memories[$name]+="$(cat "$work/.memory") "
    # The write cases print the write's own seconds on their second line.
    [[ $name != *write ]] || writes[$name]+="$(sed -n 2p "$work/.output") "
  done
done

# The threads of each case: its program's line in the probe's report (the
# tool's, where a script starts it).
declare -A threads
for name in "${names[@]}"; do
  set -- ${commands[$name]}
  program=$(basename "$1")
  [ "$program" != with_display.sh ] || program=$(basename "$2")
  rm -f "$work/.threads"
  THREADPROBE_REPORT=$work/.threads LD_PRELOAD=$build/bench/libthreadprobe.so ${commands[$name]} >/dev/null 2>&1 || true
  threads[$name]=$(awk -v p="$program" '$1 == p { print $2 }' "$work/.threads" | sort -n | tail -n 1)
done

median() { printf '%s\n' $1 | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
echo "sample of 190,676 cells and families of the same mesh, median of $runs runs"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
printf '%-20s %10s %12s %8s\n' case "wall (s)" "peak (MiB)" threads
declare -A medianTime medianMemory
for name in "${names[@]}"; do
  medianTime[$name]=$(median "${times[$name]}")
  medianMemory[$name]=$(median "${memories[$name]}")
  printf '%-20s %10.3f %12.1f %8s\n' "$name" "${medianTime[$name]}" \
    "$(awk "BEGIN { print ${medianMemory[$name]} / 1024 }")" "${threads[$name]:-?}"
done

ratio() { awk "BEGIN { printf \"%.2fx\", $1 / $2 }"; }
echo
# Time is set against reading the same surfaces (meshmean: the same 21 files;
# headshape: its one scan), memory against reading two surfaces.
for p in "" noisy- digits-; do
  for t in celldist mirrorasym scancompare helmetdiff check; do
    echo "${p}$t: time $(ratio "${medianTime[${p}$t]}" "${medianTime[${p}read]}") of ${p}read," \
      "memory $(ratio "${medianMemory[${p}$t]}" "${medianMemory[${p}read]}") of ${p}read"
  done
  echo "${p}helmetdiff / ${p}celldist: time $(ratio "${medianTime[${p}helmetdiff]}" "${medianTime[${p}celldist]}")," \
    "memory $(ratio "${medianMemory[${p}helmetdiff]}" "${medianMemory[${p}celldist]}")"
  echo "${p}headshape: time $(ratio "${medianTime[${p}headshape]}" "${medianTime[${p}read1]}") of ${p}read1 (its one scan)"
done

# The goals: each tool against what its design must do in any case.
echo
echo "against the floors (goal: helmetdiff 1.3x, the pair tools 1.25x, the query tools' memory 1.3x)"
for p in "" noisy- digits-; do
  write=$(median "${writes[${p}write]}")
  floor=$(awk "BEGIN { print ${medianTime[${p}celldist]} + $write }")
  echo "${p}helmetdiff (flag y) / (${p}celldist + VTK writing the scaled target, $(awk "BEGIN { printf \"%.3f\", $write }") s):" \
    "$(ratio "${medianTime[${p}helmetdiff]}" "$floor")"
  echo "${p}helmetdiff (flag n) / ${p}celldist: $(ratio "${medianTime[${p}helmetdiffn]}" "${medianTime[${p}celldist]}")"
  for t in celldist mirrorasym scancompare; do
    echo "${p}$t / ${p}read: $(ratio "${medianTime[${p}$t]}" "${medianTime[${p}read]}")"
  done
done
for t in curvesnap:readlocator lineintersect:readlocator curve-curvesnap:noisy-readlocator \
  lines-lineintersect:noisy-readlocator; do
  echo "${t%%:*}: peak memory / ${t#*:} (VTK read + vtkCellLocator, one query each):" \
    "$(ratio "${medianMemory[${t%%:*}]}" "${medianMemory[${t#*:}]}")"
done
echo "scanreport: $(awk "BEGIN { printf \"%.1f\", ${medianTime[scanreport]} }") s for the whole report of the sample pair"
echo "meshmean: time $(ratio "${medianTime[meshmean]}" "${medianTime[read21]}") of read21," \
  "memory $(ratio "${medianMemory[meshmean]}" "${medianMemory[read]}") of read"
# The query tools hold the scan and their search index: their memory set
# against VTK's read of the scan, and against that read with VTK's own cell
# locator built over it.
for t in curve-curvesnap lines-lineintersect; do
  echo "$t: memory $(ratio "${medianMemory[$t]}" "${medianMemory[noisy-read1]}") of noisy-read1," \
    "$(ratio "${medianMemory[$t]}" "${medianMemory[noisy-readlocator]}") of noisy-readlocator"
done
# Queries per second: over the whole run, and net of reading the surface and
# building the search structures (the locator cases).
rate() { awk "BEGIN { printf \"%.0f\", $1 / ($2) }"; }
queries() {
  echo "$1: $2 $3, $(rate "$2" "${medianTime[$4]}") queries/s," \
    "$(rate "$2" "${medianTime[$4]} - ${medianTime[$5]}") queries/s net of the $5 case"
}
queries curvesnap $curvePoints "spiral points" curvesnap locator
queries lineintersect $segments segments lineintersect locator
queries curvesnap $curvePoints "points 0-5 mm off the noisy scan" curve-curvesnap noisy-locator
queries lineintersect $segments "random segments near the noisy scan" lines-lineintersect noisy-locator
# The same net of reading the surface alone (the search structures' build
# then counts as part of the queries).
queries curvesnap $curvePoints "points 0-5 mm off the noisy scan" curve-curvesnap noisy-read1
queries lineintersect $segments "random segments near the noisy scan" lines-lineintersect noisy-read1
