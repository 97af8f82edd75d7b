#!/bin/bash
# The monitor removing a folder from a flooded log and undoing that: two
# writers append numbered entries for one folder, a third for another, and
# the monitor removes the second folder (d) and takes the removal back (u),
# one key about every second, ending on an undo (bench/stress_bench.cpp).
# Then every numbered entry must be in the log exactly once, whole, in the
# order it was delivered, and no change of the log may have waited more than
# half a second for the screen to be redrawn. Runs it with writers that
# append as Procmail does, then with real Procmail processes. The journal
# goes to the scratch directory (XDG_STATE_HOME). Prints figures, among them
# how long d and u took and how often one failed and was tried again (u
# needs a lease: while Procmail holds the log open it says so and changes
# nothing); exits 1 when a run lost, doubled, tore or reordered an entry,
# could not undo a removal, or the screen lagged.
#
# Usage: bench/stress.sh [--build DIR] [--seconds N] [--rate PER_SECOND]
#   --build DIR       a release build with the tests configured (default: build)
#   --seconds N       how long each run floods the log (default 60)
#   --rate N          entries a second from each writer (default 1500)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=$repo/build
seconds=60
rate=1500
while [ $# -gt 0 ]; do
    case $1 in
        --build) build=$2; shift 2 ;;
        --seconds) seconds=$2; shift 2 ;;
        --rate) rate=$2; shift 2 ;;
        -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "bench: unknown argument '$1' (see --help)" >&2; exit 1 ;;
    esac
done
command -v procmail >/dev/null || { echo "bench: procmail is not installed" >&2; exit 1; }

cmake --build "$build" --target lurko stress_bench >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/lurko-stress.XXXXXX")
trap 'rm -rf "$work"' EXIT
status=0
for writers in append procmail; do
    echo
    mkdir -p "$work/$writers"
    "$build/bench/stress_bench" "$build/src/lurko" "$work/$writers" "$seconds" "$rate" \
        "$([ "$writers" = procmail ] && echo procmail || echo append)" || status=1
done
exit $status
