#!/bin/sh
# Fuzzes one target for $SONVAR_FUZZ_SECONDS seconds (default 40) and fails
# on any crash, leak, time-out, out-of-memory or undefined behaviour.
# Usage: run_target.sh BINARY SEED_DIR DICT_OR_EMPTY FINDINGS_DIR
# The seeds are copied, never written to; the inputs the run found live in a
# temporary folder that is removed. On a failure the reproducers and the log
# are copied to FINDINGS_DIR. The last line is the result:
#   FUZZ <name> runs=<n> corpus=<files> crashes=<n> seconds=<n>
set -u
binary=$1
seeds=$2
dict=$3
findings=$4
seconds=${SONVAR_FUZZ_SECONDS:-40}
name=$(basename "$binary")

work=$(mktemp -d "${TMPDIR:-/tmp}/sonvar-fuzz-$name.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$work/artifacts"
[ -d "$seeds" ] && cp -r "$seeds/." "$work/corpus/"

set -- -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/"
[ -n "$dict" ] && set -- "$@" -dict="$dict"
LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$(dirname "$0")/lsan.supp:print_suppressions=0} \
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1} \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    "$binary" "$@" "$work/corpus" >"$work/log" 2>&1
status=$?

runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -n 1)
corpus=$(find "$work/corpus" -type f | wc -l)
crashes=$(find "$work/artifacts" -type f | wc -l)
if [ "$status" -ne 0 ] && [ "$crashes" -eq 0 ]; then crashes=1; fi
if [ "$crashes" -ne 0 ]; then
    mkdir -p "$findings"
    cp "$work/artifacts/"* "$findings/" 2>/dev/null
    cp "$work/log" "$findings/log"
    tail -n 60 "$work/log"
    echo "reproducers and log kept in $findings"
fi
echo "FUZZ $name runs=${runs:-0} corpus=$corpus crashes=$crashes seconds=$seconds"
[ "$crashes" -eq 0 ]
