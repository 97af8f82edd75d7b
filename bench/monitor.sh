#!/bin/bash
# The interactive monitor on large logs: the first screen, the CPU time and
# the delay of each new delivery (appended at random moments), the memory the
# deliveries add, the wake-ups and the CPU while idle, and a burst of
# deliveries, on a 100 MB and a 1 MB generated log (the cost of a delivery
# should not depend on the log's size). With --big, also the peak memory of
# `lurko -o` on a 1 GB log, and what d costs there (the time and memory of
# removing its most frequent folder). Prints figures; asserts nothing.
#
# Usage: bench/monitor.sh [--build DIR] [--lurko PATH] [--dir DIR] [--deliveries N]
#                         [--rate PER_SECOND] [--idle SECONDS] [--burst RATE SECONDS] [--big]
#   --build DIR       a release build with the tests configured (default: build)
#   --lurko PATH      the binary to measure (default: DIR/src/lurko), e.g. an older one
#   --dir DIR         scratch directory for the logs (default: /tmp/lurko-bench)
#   --deliveries N    deliveries appended to each log (default 1000)
#   --rate N          deliveries per second on average (default 20)
#   --idle SECONDS    how long the monitor is left alone (default 60)
#   --burst R S       then R deliveries a second for S seconds (default 2000 10)
#   --big             also generate a 1 GB log and measure lurko -o on it
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
gen=$repo/bench/gen-log
build=$repo/build
dir=/tmp/lurko-bench
deliveries=1000
rate=20
idle=60
burst_rate=2000
burst_seconds=10
lurko=
big=no
while [ $# -gt 0 ]; do
    case $1 in
        --build) build=$2; shift 2 ;;
        --dir) dir=$2; shift 2 ;;
        --deliveries) deliveries=$2; shift 2 ;;
        --rate) rate=$2; shift 2 ;;
        --idle) idle=$2; shift 2 ;;
        --burst) burst_rate=$2; burst_seconds=$3; shift 3 ;;
        --lurko) lurko=$2; shift 2 ;;
        --big) big=yes; shift ;;
        -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "bench: unknown argument '$1' (see --help)" >&2; exit 1 ;;
    esac
done

cmake --build "$build" --target lurko monitor_bench rewrite_bench >/dev/null
lurko=${lurko:-$build/src/lurko}
mkdir -p "$dir/run"

generate() { # name gen-log-options...
    local name=$1
    shift
    if [ ! -f "$dir/$name.log" ]; then
        echo "generating $dir/$name.log ..." >&2
        "$gen" "$@" -o "$dir/$name.log.part"
        mv "$dir/$name.log.part" "$dir/$name.log"
    fi
}

for size in 100M 1M; do
    generate "$size" --size "$size" --seed 1
    # The benchmark appends to the log: it works on a copy, in a directory of
    # its own (the monitor also wakes for what happens in the log's directory).
    cp "$dir/$size.log" "$dir/run/monitor-$size.log"
    echo
    "$build/bench/monitor_bench" "$lurko" "$dir/run/monitor-$size.log" \
        "$deliveries" "$rate" "$([ "$size" = 100M ] && echo "$idle" || echo 5)" \
        "$burst_rate" "$burst_seconds"
    rm -f "$dir/run/monitor-$size.log"
done

if [ "$big" = yes ]; then
    generate 1G --size 1G --seed 1
    peak=$(/usr/bin/time -v "$lurko" -o "$dir/1G.log" 2>&1 >/dev/null |
        sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p')
    size=$(stat -c %s "$dir/1G.log")
    echo
    python3 -c 'import sys; p, s = int(sys.argv[1]) * 1024, int(sys.argv[2]); print("lurko -o on a %.2f GB log: peak %.0f MB, %.2fx the log" % (s / 1e9, p / 1e6, p / s))' "$peak" "$size"
    # d on it, on a copy: the folder with the most mails.
    cp "$dir/1G.log" "$dir/run/rewrite-1G.log"
    folder=$("$lurko" -o "$dir/1G.log" | head -n 1 | sed 's/^ *[0-9]* //')
    "$build/bench/rewrite_bench" "$dir/run/rewrite-1G.log" "$folder" || true
    rm -f "$dir/run/rewrite-1G.log"
fi
