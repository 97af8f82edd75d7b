#!/bin/bash
# Crashes in the middle of a change to the log: d, r, -c and u on a 100 MB
# log are killed with SIGKILL at random moments while a writer keeps
# appending numbered deliveries, and each kill is followed by a start of
# Lurko (lurko -o, which first finishes or rolls back the interrupted
# change) (bench/crash_bench.cpp). Then the log must hold its old or its new
# content, followed by every delivery, each once, whole and in order (those
# that an emptying took away before they came excepted).
# Each change is timed once unkilled first; half the kills fall anywhere in
# its span, half while it writes the log. Prints how the kills landed (read
# from the journal each left: begun with the log untouched, or ready with
# the log half written), what the start said, and lost, doubled and torn
# deliveries; exits 1 when a log was neither old nor new content plus the
# deliveries, or a delivery was lost, doubled or torn. The journal goes to
# the scratch directory (XDG_STATE_HOME).
#
# Usage: bench/crash.sh [--build DIR] [--kills N] [--size SIZE] [--seed N] [--dir DIR]
#   --build DIR       a release build (default: build)
#   --kills N         how many kills, taking d, r, -c and u in turn (default 50)
#   --size SIZE       the log's size, as bench/gen-log takes it (default 100M)
#   --seed N          the random moments of the kills (default 1)
#   --dir DIR         where the scratch directory goes (default: $TMPDIR or /tmp);
#                     it takes about five times SIZE
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=$repo/build
kills=50
size=100M
seed=1
parent=${TMPDIR:-/tmp}
while [ $# -gt 0 ]; do
    case $1 in
        --build) build=$2; shift 2 ;;
        --kills) kills=$2; shift 2 ;;
        --size) size=$2; shift 2 ;;
        --seed) seed=$2; shift 2 ;;
        --dir) parent=$2; shift 2 ;;
        -h|--help) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "bench: unknown argument '$1' (see --help)" >&2; exit 1 ;;
    esac
done

cmake --build "$build" --target lurko crash_bench >/dev/null
work=$(mktemp -d "$parent/lurko-crash.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$repo/bench/gen-log" --size "$size" --seed 1 -o "$work/start.log"
# d removes the folder with the most entries.
folder=$("$repo/bench/gen-log" --report "$work/start.log" | sort -rn | head -1 | sed 's/^ *[0-9]* //')
mkdir "$work/run"
if ! "$build/bench/crash_bench" "$build/src/lurko" "$work/start.log" "$folder" "$work/run" \
    "$kills" "$seed"; then
    trap - EXIT
    echo "bench: the logs that went wrong are kept in $work/run" >&2
    exit 1
fi
