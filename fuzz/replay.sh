#!/bin/sh
# Runs a fuzz target once on every file of the given directories (the seed
# corpus, the saved regression inputs); directories that do not exist are
# skipped. Fails, showing the target's report, when it fails on any file.
#
#   fuzz/replay.sh TARGET DIR...
set -eu
target=$1
shift
output=$(mktemp)
trap 'rm -f "$output"' EXIT
for dir in "$@"; do
    [ -d "$dir" ] || continue
    count=$(find "$dir" -type f | wc -l)
    # libFuzzer runs each file named on its command line once.
    if find "$dir" -type f -exec "$target" {} + >"$output" 2>&1; then
        echo "$(basename "$target"): $count inputs of $dir ran clean"
    else
        tail -n 100 "$output" >&2
        echo "$(basename "$target"): replay of $dir failed" >&2
        exit 1
    fi
done
