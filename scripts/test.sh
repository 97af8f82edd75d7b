#!/bin/sh
# Installs what is missing, builds Lurko and its tests, and runs every test.
#   scripts/test.sh [BUILD_DIR [CMAKE_OPTION...]]
set -eu
cd "$(dirname "$0")/.."
. scripts/dependencies.sh
# shellcheck disable=SC2086
ensure_packages $build_packages $test_packages
ensure_latin1_locale

build_dir=${1:-build}
[ $# -gt 0 ] && shift
cmake -S . -B "$build_dir" -DLURKO_TESTS=ON "$@" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
