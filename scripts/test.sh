#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors and runs the test suite.
# SY_BUILD_DIR chooses the build folder; extra arguments go to CMake.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${SY_BUILD_DIR:-$root/build}

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DSY_WERROR=ON "$@"
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
