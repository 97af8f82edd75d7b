#!/bin/sh
# Installs what is missing, builds Lurko and starts it on a copy of the
# bundled sample log, written by real Procmail (the copy keeps the sample
# intact whatever you do to the log from Lurko). Extra arguments go to Lurko.
set -eu
cd "$(dirname "$0")/.."
. scripts/dependencies.sh
# shellcheck disable=SC2086
ensure_packages $build_packages

cmake -S . -B build-sample -DLURKO_TESTS=OFF >/dev/null
cmake --build build-sample -j "$(nproc)" --target lurko >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/lurko-sample.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
cp examples/sample-procmail.log "$work/procmail.log"
build-sample/src/lurko -o "$@" "$work/procmail.log"
