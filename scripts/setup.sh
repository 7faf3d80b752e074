#!/usr/bin/env bash
# Installs what the build needs when it is missing (Debian 12, as root; xvfb
# gives colorsnap and scanreport a display on machines without one, chromium
# and Node.js run the browser test of scanreport's page, snakemake runs the
# cohort workflow, slurm-wlm and munge give the workflow's test a one-node
# Slurm cluster of its own), then
# configures and builds into $BUILD_DIR (default: build/ in the checkout).
# Extra CMake arguments may be passed on the command line. Safe to run again.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

bash "$root/scripts/install-packages.sh" cmake make g++ ccache libvtk9-dev libeigen3-dev libboost-dev libgtest-dev time xvfb \
  xauth chromium snakemake slurm-wlm munge
# Node.js drives Chromium in the browser test of scanreport's page.
command -v node >/dev/null && command -v npm >/dev/null || bash "$root/scripts/install-packages.sh" nodejs npm

build=${BUILD_DIR:-$root/build}
# The real head meshes the tests read, from Debian's packages (not installed).
BUILD_DIR=$build bash "$root/scripts/fetch-realheads.sh"
# ccache: the builds of one checkout with other options (the diagnostic
# build) compile again only what the options change.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER_LAUNCHER=ccache "$@" >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
# playwright-core, pinned, for the browser test (it drives Debian's chromium).
if [ ! -f "$build/browser-test/node_modules/playwright-core/package.json" ]; then
  npm install --prefix "$build/browser-test" --no-audit --no-fund --loglevel=error playwright-core@1.65.2 >/dev/null
fi
echo "Built in $build"
