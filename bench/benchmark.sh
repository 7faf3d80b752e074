#!/usr/bin/env bash
# Times the tools on the full-size sample (190,676 cells) against a program that
# only reads the same surfaces with VTK. Each case runs RUNS times, the cases
# taking turns so that a slow spell of the machine hits them all alike; the
# table shows the median wall time and the median peak resident memory.
# Not a test: it prints figures and asserts nothing.
#   bash bench/benchmark.sh [RUNS]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
runs=${1:-11}
BUILD_DIR=$build bash "$root/scripts/setup.sh" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/sample/makesample" "$work" >/dev/null
data=$work
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
add_case read "$build/bench/readonly $data/finalscan.vtk $data/firstscan.vtk"
add_case celldist "$(tool celldist) $data/finalscan.vtk $data/firstscan.vtk d.clr 5 -5 x.clr y.clr z.clr"
add_case mirrorasym "$(tool mirrorasym) $data/firstscan.vtk $data/template.vtk a.clr m.clr x.clr y.clr z.clr -5 5 190676"
add_case scancompare "$(tool scancompare) $data/firstscan.vtk $data/finalscan.vtk $data/template_mask.clr s.clr r1.clr r2.clr n"
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
# Reading the surface and building its cell locator, with a single query.
add_case locator "$(tool curvesnap) $data/finalscan.vtk $work/one.crv one.sln"
add_case curvesnap "$(tool curvesnap) $data/finalscan.vtk $work/spiral.crv spiral.sln"
add_case lineintersect "$(tool lineintersect) $data/finalscan.vtk $work/segments.crv landmarks.log"
# headshape measures one scan: set against reading that one scan.
add_case read1 "$build/bench/readonly $data/firstscan.vtk"
add_case headshape "$(tool headshape) $data/firstscan.vtk"
# The whole report of the sample pair, the virtual display's start included.
add_case scanreport "xvfb-run -a $(tool scanreport) $data/firstscan.vtk $data/finalscan.vtk $data/template.vtk $data/template_mask.clr report.html"
add_case helmetdiff "$(tool helmetdiff) $data/firstscan.vtk $data/finalscan.vtk vx.clr -5 5 vy.clr -5 5 vz.clr -5 5 vxyz.clr -5 5 $data/helmet_mask.clr scaled.vtk y"

declare -A times memories
for ((i = 0; i < runs; i++)); do
  for name in "${names[@]}"; do
    start=$EPOCHREALTIME
    /usr/bin/time -q -f "%M" -o "$work/.memory" ${commands[$name]} >/dev/null 2>&1 || true
    end=$EPOCHREALTIME
    times[$name]+="$(awk "BEGIN { print $end - $start }") "
    memories[$name]+="$(cat "$work/.memory") "
  done
done

median() { printf '%s\n' $1 | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
echo "sample of 190,676 cells, median of $runs runs"
printf '%-14s %10s %12s\n' case "wall (s)" "peak (MiB)"
declare -A medianTime medianMemory
for name in "${names[@]}"; do
  medianTime[$name]=$(median "${times[$name]}")
  medianMemory[$name]=$(median "${memories[$name]}")
  printf '%-14s %10.3f %12.1f\n' "$name" "${medianTime[$name]}" "$(awk "BEGIN { print ${medianMemory[$name]} / 1024 }")"
done

ratio() { awk "BEGIN { printf \"%.2fx\", $1 / $2 }"; }
echo
# Time is set against reading the same surfaces (meshmean: the same 21 files;
# headshape: its one scan),
# memory against reading two surfaces.
declare -A timeBaseline=([meshmean]=read21 [headshape]=read1)
for name in "${names[@]}"; do
  case $name in read | read1 | read21 | locator | scanreport) continue ;; esac
  base=${timeBaseline[$name]:-read}
  echo "$name: time $(ratio "${medianTime[$name]}" "${medianTime[$base]}") of $base," \
    "memory $(ratio "${medianMemory[$name]}" "${medianMemory[read]}") of read"
done
# Closest-point queries per second: over the whole run, and net of reading
# the surface and building the locator.
rate() { awk "BEGIN { printf \"%.0f\", $1 / ($2) }"; }
echo "curvesnap: $curvePoints points, $(rate $curvePoints "${medianTime[curvesnap]}") queries/s," \
  "$(rate $curvePoints "${medianTime[curvesnap]} - ${medianTime[locator]}") queries/s net of the locator case"
echo "lineintersect: $segments segments, $(rate $segments "${medianTime[lineintersect]}") queries/s," \
  "$(rate $segments "${medianTime[lineintersect]} - ${medianTime[locator]}") queries/s net of the locator case"
echo "helmetdiff / celldist: time $(ratio "${medianTime[helmetdiff]}" "${medianTime[celldist]}")," \
  "memory $(ratio "${medianMemory[helmetdiff]}" "${medianMemory[celldist]}")"
