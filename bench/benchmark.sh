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

# The cases: a name, then the command line.
names=()
declare -A commands
add_case() {
  names+=("$1")
  commands[$1]=$2
}
add_case read "$build/bench/readonly $data/finalscan.vtk $data/firstscan.vtk"
add_case celldist "$(tool celldist) $data/finalscan.vtk $data/firstscan.vtk d.clr 5 -5 x.clr y.clr z.clr"
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
printf '%-12s %10s %12s\n' case "wall (s)" "peak (MiB)"
declare -A medianTime medianMemory
for name in "${names[@]}"; do
  medianTime[$name]=$(median "${times[$name]}")
  medianMemory[$name]=$(median "${memories[$name]}")
  printf '%-12s %10.3f %12.1f\n' "$name" "${medianTime[$name]}" "$(awk "BEGIN { print ${medianMemory[$name]} / 1024 }")"
done

ratio() { awk "BEGIN { printf \"%.2fx\", $1 / $2 }"; }
echo
echo "celldist / read: time $(ratio "${medianTime[celldist]}" "${medianTime[read]}")," \
  "memory $(ratio "${medianMemory[celldist]}" "${medianMemory[read]}")"
echo "helmetdiff / celldist: time $(ratio "${medianTime[helmetdiff]}" "${medianTime[celldist]}")," \
  "memory $(ratio "${medianMemory[helmetdiff]}" "${medianMemory[celldist]}")"
