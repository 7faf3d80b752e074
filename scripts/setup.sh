#!/usr/bin/env bash
# Installs what the build needs when it is missing (Debian 12, as root; xvfb
# gives colorsnap a display on machines without one), then
# configures and builds into $BUILD_DIR (default: build/ in the checkout).
# Extra CMake arguments may be passed on the command line. Safe to run again.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

bash "$root/scripts/install-packages.sh" cmake make g++ libvtk9-dev libeigen3-dev libgtest-dev time xvfb xauth

build=${BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
echo "Built in $build"
