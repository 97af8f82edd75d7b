#!/bin/bash
# Real Procmail under load while the monitor runs: the load test of the test
# suite with a larger burst. Several workers deliver messages through
# Procmail as fast as it takes them; afterwards the monitor, lurko -o, the
# log and the folders must agree. Prints, for a plain burst, one with a
# folder removed (d) and one with the log cleared (r) in the middle: the
# deliveries, the time, the rate, the monitor's CPU time and what was lost
# (expected: nothing). Fails when the test fails.
#
# Usage: bench/load.sh [--build DIR] [--deliveries N] [--workers N] [--only NAME]
#   --build DIR       a build with the tests configured (default: build)
#   --deliveries N    messages delivered in each burst (default 20000)
#   --workers N       concurrent delivering processes (default 6)
#   --only NAME       one burst: plain, remove or clear (default: all three)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=$repo/build
deliveries=20000
workers=6
only=
while [ $# -gt 0 ]; do
    case $1 in
        --build) build=$2; shift 2 ;;
        --deliveries) deliveries=$2; shift 2 ;;
        --workers) workers=$2; shift 2 ;;
        --only) only=$2; shift 2 ;;
        -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "bench: unknown argument '$1' (see --help)" >&2; exit 1 ;;
    esac
done

case $only in
    '') filter='Load.*' ;;
    plain) filter='Load.EveryDeliveryIsCountedOnce' ;;
    remove) filter='Load.RemovingAFolderLosesNothingElse' ;;
    clear) filter='Load.EveryDeliveryAfterAClearIsCounted' ;;
    *) echo "bench: --only takes plain, remove or clear" >&2; exit 1 ;;
esac

cmake --build "$build" --target lurko load_test >/dev/null
echo "load: $deliveries deliveries per burst by $workers workers ($(nproc) cores)"
output=$(mktemp)
trap 'rm -f "$output"' EXIT
status=0
LURKO_LOAD_DELIVERIES=$deliveries LURKO_LOAD_WORKERS=$workers \
    "$build/tests/load_test" --gtest_filter="$filter" >"$output" 2>&1 || status=$?
grep -E '^\[ figures  \]' "$output" | sed 's/^\[ figures  \] //'
if [ "$status" -ne 0 ]; then
    grep -E 'Failure|Expected|Which is|FAILED' "$output" | head -40 >&2
    echo "load: the test failed (status $status)" >&2
fi
exit "$status"
