#!/bin/bash
# How the monitor follows its log through what happens in its directory: the
# CPU cost of a busy directory (other files created and deleted next to the
# log), the delay of a rotation (the log renamed away and created again) and
# of a directory removed and made again. Prints figures; asserts nothing.
#
# Usage: bench/watch.sh [--build DIR] [--lurko PATH] [--dir DIR] [--rate N]
#                       [--seconds S] [--rotations N]
#   --build DIR     a build with the tests configured (default: build)
#   --lurko PATH    the binary to measure (default: DIR/src/lurko), e.g. an older one
#   --dir DIR       scratch directory (default: /tmp/lurko-watch-bench)
#   --rate N        creates and deletes a second in the busy directory (default 30000)
#   --seconds S     how long the directory is kept busy (default 10)
#   --rotations N   rotations timed (default 10)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=$repo/build
dir=/tmp/lurko-watch-bench
rate=30000
seconds=10
rotations=10
lurko=
while [ $# -gt 0 ]; do
    case $1 in
        --build) build=$2; shift 2 ;;
        --lurko) lurko=$2; shift 2 ;;
        --dir) dir=$2; shift 2 ;;
        --rate) rate=$2; shift 2 ;;
        --seconds) seconds=$2; shift 2 ;;
        --rotations) rotations=$2; shift 2 ;;
        -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "bench: unknown argument '$1' (see --help)" >&2; exit 1 ;;
    esac
done

cmake --build "$build" --target lurko watch_bench >/dev/null
lurko=${lurko:-$build/src/lurko}
"$build/bench/watch_bench" "$lurko" "$dir" "$rate" "$seconds" "$rotations"
rm -rf "$dir"
