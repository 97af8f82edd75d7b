#!/bin/sh
# Builds the libFuzzer targets with clang++ under AddressSanitizer and
# UndefinedBehaviorSanitizer, replays each target's seed corpus and saved
# regression inputs, then fuzzes each target for a while.
#
#   fuzz/run.sh [SECONDS [TARGET...]]
#
# SECONDS is the fuzzing time per target (default 60; 0 only replays).
# TARGET picks targets (default: all four). Environment:
#   LURKO_FUZZ_BUILD   build directory (default build-fuzz)
#   LURKO_FUZZ_FLAGS   more libFuzzer options, e.g. "-jobs=2 -workers=2"
#
# Inputs that add coverage go to BUILD/corpus/TARGET (the corpus in the
# repository is only read). A failing input is saved as
# BUILD/artifacts/TARGET/crash-... and the script fails; copy it into
# fuzz/regressions/ once the fault is mended. Each target's output is in
# BUILD/logs/TARGET.log; the last lines give the number of runs.
set -eu
cd "$(dirname "$0")/.."

seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=${*:-fuzz_mail_log fuzz_log_filter fuzz_rc_scanner fuzz_encoded_words fuzz_json}
build=${LURKO_FUZZ_BUILD:-build-fuzz}
flags=${LURKO_FUZZ_FLAGS:-}

# shellcheck source=scripts/dependencies.sh
. scripts/dependencies.sh
# shellcheck disable=SC2086 # one word per package
ensure_packages $build_packages clang libclang-rt-14-dev

echo "== building the fuzz targets in $build"
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLURKO_SANITIZE=ON -DLURKO_FUZZ=ON -DLURKO_TESTS=OFF >/dev/null
cmake --build "$build" --target fuzzers -j "$(nproc)" >/dev/null

# Which seed directory, longest input and dictionary each target takes.
corpus_of() {
    case $1 in
        fuzz_rc_scanner) echo rc ;;
        fuzz_encoded_words | fuzz_json) echo encoded_words ;;
        *) echo log ;;
    esac
}
max_len_of() {
    case $1 in
        fuzz_rc_scanner) echo 16384 ;;
        fuzz_encoded_words | fuzz_json) echo 4095 ;; # a subject is one log line
        *) echo 8192 ;; # lines over the limit, and a few entries besides
    esac
}
dict_of() {
    case $1 in
        fuzz_encoded_words | fuzz_json) echo fuzz/encoded_words.dict ;;
        *) echo fuzz/procmail.dict ;;
    esac
}

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

echo "== replaying the corpus and the regression inputs"
for target in $targets; do
    kind=$(corpus_of "$target")
    fuzz/replay.sh "$build/fuzz/$target" "fuzz/corpus/$kind" "fuzz/regressions/$kind"
done

[ "$seconds" -gt 0 ] || exit 0

echo "== fuzzing each target for $seconds s"
mkdir -p "$build/logs"
for target in $targets; do
    kind=$(corpus_of "$target")
    work="$build/corpus/$target"
    artifacts="$build/artifacts/$target"
    log="$build/logs/$target.log"
    mkdir -p "$work" "$artifacts"
    # shellcheck disable=SC2086 # the extra options are separate words
    if "$build/fuzz/$target" "$work" "fuzz/corpus/$kind" \
        -max_total_time="$seconds" -max_len="$(max_len_of "$target")" -timeout=10 \
        -dict="$(dict_of "$target")" -artifact_prefix="$artifacts/" -print_final_stats=1 \
        $flags >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
        rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
        echo "$target: ${runs:-?} runs in $seconds s (${rate:-?} per second), no failure"
    else
        tail -n 60 "$log" >&2
        echo "$target: FAILED; the input is in $artifacts, the output in $log" >&2
        exit 1
    fi
done
