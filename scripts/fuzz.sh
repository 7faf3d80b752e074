#!/usr/bin/env bash
# Builds the libFuzzer harnesses of tests/fuzz with clang into $FUZZ_BUILD_DIR
# (default: build-fuzz/ in the checkout) and runs each for SECONDS (default
# 30), from its seed corpus in tests/fuzz/corpus/<harness>/ and what earlier
# runs of this build found. Installs clang and its fuzzing runtime when they
# are missing (Debian 12, as root). Exits non-zero when a harness fails: the
# input that made it fail is kept in $FUZZ_BUILD_DIR/findings/.
#
#   scripts/fuzz.sh [SECONDS [HARNESS...]]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-30}
shift || true
# An absolute path: the tools harness changes its working folder.
build=$(realpath -m "${FUZZ_BUILD_DIR:-$root/build-fuzz}")

bash "$root/scripts/install-packages.sh" cmake make clang libclang-rt-14-dev libvtk9-dev libeigen3-dev

all=(fuzz_curvefile fuzz_colorfile fuzz_listfile fuzz_surface fuzz_scanfile fuzz_tools)
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=("${all[@]}")

cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSURFTOOLS_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${harnesses[@]}" >/dev/null
echo "Built the harnesses in $build"

failed=()
for harness in "${harnesses[@]}"; do
  corpus=$build/corpus/$harness
  findings=$build/findings/$harness
  mkdir -p "$corpus" "$findings"
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -close_fd_mask=1 -print_final_stats=1
    -artifact_prefix="$findings/")
  # A fixed seed (FUZZ_SEED) makes a short run take the same course each time.
  [ -n "${FUZZ_SEED:-}" ] && options+=(-seed="$FUZZ_SEED")
  dict=$root/tests/fuzz/$harness.dict
  [ -f "$dict" ] && options+=(-dict="$dict")
  # No leak checks where VTK's reader runs: it leaks some arrays itself
  # (vtkUnicodeStringArray), and the tools keep their VTK objects by design.
  leaks=1
  case $harness in
    fuzz_surface | fuzz_scanfile) leaks=0 ;;
    fuzz_tools) leaks=0; options+=(-fork=1 -ignore_ooms=0 -ignore_timeouts=0 -ignore_crashes=0) ;; # see fuzz_tools.cpp
  esac
  options+=(-detect_leaks=$leaks)
  log=$build/$harness.log
  echo "== $harness: $seconds s"
  if ASAN_OPTIONS=detect_leaks=$leaks "$build/tests/fuzz/$harness" "${options[@]}" "$corpus" \
    "$root/tests/fuzz/corpus/$harness" >"$log" 2>&1; then
    # The totals (fork mode prints its running totals instead).
    grep -E '^stat::(number_of_executed_units|peak_rss_mb|new_units_added)' "$log" ||
      grep -E '^#[0-9]+: cov' "$log" | tail -n 1
    echo "   corpus: $(find "$corpus" -type f | wc -l) inputs"
  else
    echo "   FAILED; log: $log"
    grep -E 'ERROR|runtime error|Test unit written|deadly signal' "$log" | head -n 20 || true
    failed+=("$harness")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "Harnesses that failed: ${failed[*]}"
  exit 1
fi
echo "Every harness ran clean"
