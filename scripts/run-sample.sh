#!/bin/sh
# Installs what is missing, builds Lurko and starts the monitor on a copy of
# the bundled sample log, written by real Procmail, while examples/deliver.sh
# appends a new delivery to the copy every few seconds. Extra arguments go to
# Lurko (try -b for the bell). Quit with q.
set -eu
cd "$(dirname "$0")/.."
. scripts/dependencies.sh
# shellcheck disable=SC2086
ensure_packages $build_packages

cmake -S . -B build-sample -DLURKO_TESTS=OFF >/dev/null
cmake --build build-sample -j "$(nproc)" --target lurko >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/lurko-sample.XXXXXX")
cp examples/sample-procmail.log "$work/procmail.log"
examples/deliver.sh "$work/procmail.log" 5 &
deliverer=$!
trap 'kill "$deliverer" 2>/dev/null; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
build-sample/src/lurko "$@" "$work/procmail.log"
