#!/usr/bin/env bash
# Checks the sources' layout (scripts/format.sh), sets up and builds on a fresh
# machine if needed, then runs the whole test suite on the plain build; the
# tests that know meshmean's marker lines on its diagnostic build, and checks
# that both builds write the same average; the suite on the sanitizer build
# but for the workflow's runs (Snakemake and Python over the tools, whose own
# tests run sanitized); then runs the fuzzing harnesses briefly.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# The sources as .clang-format lays them out.
bash "$root/scripts/format.sh" --check
build=${BUILD_DIR:-$root/build}
diagnostic=${DIAGNOSTIC_BUILD_DIR:-$build-diagnostic}
BUILD_DIR=$build bash "$root/scripts/setup.sh"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"

BUILD_DIR=$diagnostic bash "$root/scripts/setup.sh" -DMESHMEAN_DIAGNOSTIC=ON
ctest --test-dir "$diagnostic" --output-on-failure -j"$(nproc)" -R '^(MeshMean|Hostile)\.'

# Both builds on one small sample: the same file, and the same lines but for the markers.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/sample/makesample" "$work" 8 60 >/dev/null
printf '%s\n' "$work/template.vtk" "$work/firstscan.vtk" "$work/finalscan.vtk" >"$work/list.txt"
"$build/tools/meshmean/meshmean" "$work/list.txt" "$work/plain.vtk" >"$work/plain.txt"
"$diagnostic/tools/meshmean/meshmean" "$work/list.txt" "$work/diagnostic.vtk" >"$work/diagnostic.txt"
cmp "$work/plain.vtk" "$work/diagnostic.vtk"
grep -v '^hej' "$work/diagnostic.txt" | cmp - "$work/plain.txt"
[ "$(grep -c '^hej' "$work/diagnostic.txt")" -eq 8 ]
echo "meshmean: the plain and the diagnostic build write the same average"

# The whole suite again with AddressSanitizer and UndefinedBehaviorSanitizer:
# any report fails the run.
sanitize=${SANITIZE_BUILD_DIR:-$build-sanitize}
BUILD_DIR=$sanitize bash "$root/scripts/setup.sh" -DSURFTOOLS_SANITIZE=ON
ctest --test-dir "$sanitize" --output-on-failure -j"$(nproc)" -E '^Workflow'

# Every fuzzing harness for a short while (FUZZ_SECONDS each, 0 to skip).
fuzz_seconds=${FUZZ_SECONDS:-30}
if [ "$fuzz_seconds" -gt 0 ]; then
  FUZZ_SEED=${FUZZ_SEED:-1} FUZZ_BUILD_DIR=${FUZZ_BUILD_DIR:-$build-fuzz} bash "$root/scripts/fuzz.sh" "$fuzz_seconds"
fi
