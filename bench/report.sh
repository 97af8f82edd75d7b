#!/bin/bash
# Speed and memory of `lurko -o` beside wc -l and Procmail's mailstat (and
# the awk report of ../shared/tools when it is there), on Procmail logs of 1,
# 10 and 100 MB from bench/gen-log and on a 100 MB log spread over 5,000
# folders; then, side by side, the figures lurko aims at: -o, -o on 5,000
# folders and -o -w against wc -l, their peak memory, and the monitor's
# first screen against -o -w, each with the spread of its runs. Prints
# figures; asserts nothing.
#
# Usage: bench/report.sh [--lurko PATH] [--monitor-bench PATH] [--dir DIR]
#                        [--runs N] [--allow-debug]
#   --lurko PATH   the binary to measure (default: build/src/lurko)
#   --monitor-bench PATH
#                  the monitor benchmark that times the first screen
#                  (default: bench/monitor_bench of lurko's build; without
#                  it, no monitor figure)
#   --dir DIR      scratch directory for the logs, kept and reused between
#                  runs (default: /tmp/lurko-bench)
#   --runs N       timed runs of each fast command (default 10; the slow
#                  baselines get fewer on the large logs)
#   --allow-debug  measure a binary that was not built for release
#
# Needs: python3 (for bench/gen-log), hyperfine (apt-get install hyperfine),
# mailstat (procmail), GNU time at /usr/bin/time.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
gen=$repo/bench/gen-log
# The awk baseline lives beside the project, not in it: without it, no column.
awk_report=$repo/../shared/tools/awk-report
[ -x "$awk_report" ] || awk_report=
lurko=$repo/build/src/lurko
monitor_bench=
dir=/tmp/lurko-bench
runs=10
allow_debug=no

while [ $# -gt 0 ]; do
    case $1 in
        --lurko) lurko=$2; shift 2 ;;
        --monitor-bench) monitor_bench=$2; shift 2 ;;
        --dir) dir=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --allow-debug) allow_debug=yes; shift ;;
        -h|--help) sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "bench: unknown argument '$1' (see --help)" >&2; exit 1 ;;
    esac
done

for tool in hyperfine mailstat python3 wc; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is not installed" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "bench: GNU time (/usr/bin/time) is not installed" >&2; exit 1; }
[ -x "$lurko" ] || {
    echo "bench: no lurko binary at $lurko; build it with: cmake -S $repo -B $repo/build && cmake --build $repo/build" >&2
    exit 1
}
lurko=$(cd "$(dirname "$lurko")" && pwd)/$(basename "$lurko")
[ -n "$monitor_bench" ] || monitor_bench=$(dirname "$(dirname "$lurko")")/bench/monitor_bench
if [ -x "$monitor_bench" ]; then
    monitor_bench=$(cd "$(dirname "$monitor_bench")" && pwd)/$(basename "$monitor_bench")
else
    echo "bench: no monitor benchmark at $monitor_bench (build the target monitor_bench): no monitor figure" >&2
    monitor_bench=
fi

# A benchmark of a debug or sanitizer build measures the wrong thing: find the
# build's cache above the binary and look at how it was configured.
cache=
probe=$(dirname "$lurko")
for _ in 1 2 3 4; do
    if [ -f "$probe/CMakeCache.txt" ]; then cache=$probe/CMakeCache.txt; break; fi
    probe=$(dirname "$probe")
done
if [ -n "$cache" ]; then
    build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$cache")
    sanitize=$(sed -n 's/^LURKO_SANITIZE:[A-Z]*=//p' "$cache")
else
    build_type=unknown
    sanitize=unknown
fi
if [ "$build_type" != Release ] || [ "$sanitize" = ON ]; then
    echo "bench: $lurko is not a release build (build type '$build_type', sanitizers '${sanitize:-OFF}')" >&2
    [ "$allow_debug" = yes ] || { echo "bench: rebuild with the default build type or pass --allow-debug" >&2; exit 1; }
fi

mkdir -p "$dir"
cd "$dir"

# name and gen-log options of each log
logs=(1M 10M 100M 100M-5000-folders)
declare -A gen_options=(
    [1M]="--size 1M --seed 1"
    [10M]="--size 10M --seed 1"
    [100M]="--size 100M --seed 1"
    [100M-5000-folders]="--size 100M --seed 1 --folders 5000 --zipf 0.8"
)
wide_log=100M

# --- the logs and their expected reports, made once and then reused --------
for name in "${logs[@]}"; do
    if [ ! -f "$name.log" ] || [ ! -f "$name.expect" ]; then
        echo "generating $dir/$name.log ..." >&2
        # shellcheck disable=SC2086 # the options are words on purpose
        "$gen" ${gen_options[$name]} -o "$name.log.part" --expect >"$name.expect.part"
        mv "$name.expect.part" "$name.expect"
        mv "$name.log.part" "$name.log"
    fi
done
if [ ! -f "$wide_log.expect-wide" ]; then
    echo "computing the wide report of $wide_log.log ..." >&2
    "$gen" --report "$wide_log.log" --wide >"$wide_log.expect-wide.part"
    mv "$wide_log.expect-wide.part" "$wide_log.expect-wide"
fi

# --- does lurko print the expected report? ----------------------------------
same_as() { # expected-file lurko-arguments...
    local expected=$1
    shift
    if "$lurko" "$@" | cmp -s - "$expected"; then echo OK; else echo DIFFERENT; fi
}
declare -A check
for name in "${logs[@]}"; do
    check[$name]=$(same_as "$name.expect" -o "$name.log")
done
check_wide=$(same_as "$wide_log.expect-wide" -o -w "$wide_log.log")

# --- timings -----------------------------------------------------------------
# "median min max" in seconds of one command's runs, measured by hyperfine;
# the output goes to a pipe, since some programs stop early when they write
# to /dev/null
timing() { # runs command...
    local count=$1
    shift
    local json
    json=$(mktemp "$dir/hyperfine.XXXXXX.json")
    hyperfine --shell=none --output=pipe --style=none --warmup 1 --runs "$count" \
        --export-json "$json" "$*" >/dev/null
    python3 -c 'import json, sys; r = json.load(open(sys.argv[1]))["results"][0]; print(r["median"], r["min"], r["max"])' "$json"
    rm -f "$json"
}
median() { # runs command...
    local figures
    figures=$(timing "$@")
    echo "${figures%% *}"
}

echo "load before timing: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
declare -A t_wc t_lurko t_awk t_mailstat spread
for name in "${logs[@]}"; do
    echo "timing $name ..." >&2
    slow_runs=$runs
    case $name in 100M*) slow_runs=3 ;; esac
    spread[wc-$name]=$(timing "$runs" wc -l "$name.log")
    t_wc[$name]=${spread[wc-$name]%% *}
    spread[lurko-$name]=$(timing "$runs" "$lurko" -o "$name.log")
    t_lurko[$name]=${spread[lurko-$name]%% *}
    t_awk[$name]=-
    [ -z "$awk_report" ] || t_awk[$name]=$(median "$slow_runs" "$awk_report" "$name.log")
    t_mailstat[$name]=$(median "$slow_runs" mailstat -k "$name.log")
done
spread_wide=$(timing "$runs" "$lurko" -o -w "$wide_log.log")
t_wide=${spread_wide%% *}
# The monitor's first screen on the log of -o -w, read the same way.
first_screen="- - - -"
if [ -n "$monitor_bench" ]; then
    echo "timing the monitor's first screen on $wide_log ..." >&2
    first_screen=$("$monitor_bench" --first-screen "$runs" "$lurko" "$wide_log.log" | sed -n 's/^first-screen [0-9]* //p')
fi

# --- peak memory --------------------------------------------------------------
peak_kb() { # command...
    /usr/bin/time -v "$@" 2>&1 >/dev/null | sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p'
}
declare -A peak
for name in "${logs[@]}"; do
    peak[$name]=$(peak_kb "$lurko" -o "$name.log")
done
peak_wide=$(peak_kb "$lurko" -o -w "$wide_log.log")

# --- the tables ------------------------------------------------------------------
{
    echo "lurko: $lurko (build type $build_type)"
    echo "logs:  $dir"
    echo "machine: $(nproc) cores, $(uname -sr), load $(cut -d' ' -f1-3 /proc/loadavg)"
    for name in "${logs[@]}"; do
        echo "time $name $(stat -c %s "$name.log") ${t_wc[$name]} ${t_lurko[$name]} ${t_awk[$name]} ${t_mailstat[$name]} ${check[$name]} ${peak[$name]}"
    done
    echo "wide $wide_log $(stat -c %s "$wide_log.log") ${t_wc[$wide_log]} $t_wide $check_wide $peak_wide"
    # The figures aimed at: name, median min max, the median and spread of
    # what it is compared with, the target ratio, peak memory.
    echo "aim -o-100M ${spread[lurko-100M]} ${spread[wc-100M]} 5 ${peak[100M]}"
    echo "aim -o-5000-folders ${spread[lurko-100M-5000-folders]} ${spread[wc-100M-5000-folders]} 6 ${peak[100M-5000-folders]}"
    echo "aim -o-w-100M $spread_wide ${spread[wc-$wide_log]} 7 $peak_wide $(stat -c %s "$wide_log.log")"
    echo "aim monitor-100M ${first_screen% *} $spread_wide 1.3"
} | python3 -c '
import sys
rows = []
for line in sys.stdin:
    words = line.split()
    if words[0] not in ("time", "wide", "aim"):
        print(line, end="")
        continue
    rows.append(words)
print()
print("Medians of hyperfine runs (output to a pipe); ratios to wc -l on the same log.")
print()
head = ("log", "size MB", "wc -l", "lurko -o", "awk-report", "mailstat -k",
        "lurko/wc", "awk/wc", "mailstat/wc", "mailstat/lurko", "peak MB", "peak/size", "report")
fmt = "%-18s %8s %9s %9s %10s %11s %9s %7s %11s %14s %8s %9s %7s"
print(fmt % head)
ms = lambda s: "%.1f ms" % (float(s) * 1000) if float(s) < 1 else "%.2f s" % float(s)
for w in rows:
    if w[0] != "time":
        continue
    _, name, size, wc, lurko, awk, mailstat, check, peak = w
    size, wc, lurko, mailstat, peak = int(size), float(wc), float(lurko), float(mailstat), int(peak)
    # no awk baseline without ../shared/tools
    awk_time, awk_ratio = ("-", "-") if awk == "-" else (ms(awk), "%.1fx" % (float(awk) / wc))
    print(fmt % (name, "%.1f" % (size / 1e6), ms(wc), ms(lurko), awk_time, ms(mailstat),
                 "%.1fx" % (lurko / wc), awk_ratio, "%.1fx" % (mailstat / wc),
                 "%.1fx" % (mailstat / lurko), "%.1f" % (peak * 1024 / 1e6),
                 "%.2f" % (peak * 1024 / size), check))
for w in rows:
    if w[0] != "wide":
        continue
    _, name, size, wc, wide, check, peak = w
    size, wc, wide, peak = int(size), float(wc), float(wide), int(peak)
    print()
    print("lurko -o -w on %s: %s, %.1fx wc -l; peak %.1f MB (%.2fx the log); report %s"
          % (name, ms(wide), wide / wc, peak * 1024 / 1e6, peak * 1024 / size, check))

# The aims, side by side. The spread is (slowest - fastest) / median of the
# runs of each side; a ratio moves by up to about the sum of both spreads.
print()
print("Aims (medians; the spread of the runs is the noise of this machine):")
print()
fmt = "%-34s %10s %7s %10s %7s %7s %7s %-4s %s"
print(fmt % ("measure", "median", "spread", "against", "spread", "ratio", "aim", "met", "memory"))
spread = lambda median, low, high: "%.0f%%" % ((float(high) - float(low)) / float(median) * 100)
label = {"-o-100M": ("lurko -o, 100 MB", "wc -l"),
         "-o-5000-folders": ("lurko -o, 100 MB in 5,000 folders", "wc -l"),
         "-o-w-100M": ("lurko -o -w, 100 MB", "wc -l"),
         "monitor-100M": ("monitor first screen, 100 MB", "-o -w")}
for w in rows:
    if w[0] != "aim":
        continue
    name = w[1]
    what, against = label[name]
    if w[2] == "-":
        print("%-34s (no monitor benchmark)" % what)
        continue
    median, low, high, base, base_low, base_high, aim = w[2:9]
    ratio = float(median) / float(base)
    memory = ""
    if name in ("-o-100M", "-o-5000-folders"):
        peak_mb = int(w[9]) * 1024 / 1e6
        memory = "peak %.1f MB (aim 8 MB: %s)" % (peak_mb, "met" if peak_mb <= 8 else "NOT met")
    elif name == "-o-w-100M":
        share = int(w[9]) * 1024 / int(w[10])
        memory = "peak %.2fx the log (aim 0.6x: %s)" % (share, "met" if share <= 0.6 else "NOT met")
    print(fmt % (what, ms(median), spread(median, low, high), against + " " + ms(base),
                 spread(base, base_low, base_high), "%.2fx" % ratio, "%sx" % aim,
                 "yes" if ratio <= float(aim) else "NO", memory))
'
