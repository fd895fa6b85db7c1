#!/bin/sh
# Builds the fuzz targets with clang into build-fuzz/ (or $SONVAR_FUZZ_BUILD_DIR)
# and fuzzes each for SECONDS (default 40), JOBS at a time (default: the
# number of cores). Usage: scripts/fuzz.sh [--build-only | --no-build] [SECONDS [JOBS]]
# e.g. scripts/fuzz.sh 600 4 for the long run. Prints one line per target
# (runs executed, corpus size, crashes) and a summary; fails when any target
# found something. Reproducers land in <build dir>/fuzz-findings/<target>/.
# --build-only stops after the build; --no-build fuzzes what was built.
set -e
cd "$(dirname "$0")/.."
STEPS=all
case "$1" in
    --build-only) STEPS=build; shift ;;
    --no-build) STEPS=run; shift ;;
esac
SECONDS_EACH=${1:-40}
JOBS=${2:-$(nproc)}
BUILD_DIR=${SONVAR_FUZZ_BUILD_DIR:-build-fuzz}
# A new build folder builds with Ninja where it is installed: it schedules
# the whole build at once, without make's rescans target by target. One made
# before keeps its generator.
if [ -z "${CMAKE_GENERATOR:-}" ] && command -v ninja >/dev/null 2>&1; then
    export CMAKE_GENERATOR=Ninja
fi

if [ "$STEPS" != run ]; then
    cmake -S . -B "$BUILD_DIR" -DSONVAR_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
    cmake --build "$BUILD_DIR" --target sonvar_fuzz_targets -j "$(nproc)"
fi
[ "$STEPS" = build ] && exit 0

rm -rf "$BUILD_DIR/fuzz-findings"
log="$BUILD_DIR/fuzz-last.log"
status=0
# No target opens a socket; the namespace is there in case one ever does.
SONVAR_FUZZ_SECONDS=$SECONDS_EACH scripts/netns-run \
    ctest --test-dir "$BUILD_DIR" -L fuzz -j "$JOBS" --timeout $((SECONDS_EACH + 300)) -V \
    >"$log" 2>&1 || status=$?

results=$(grep -ao 'FUZZ [a-z_0-9]* runs=.*' "$log" | sort -u)
echo "$results"
targets=$(echo "$results" | grep -c 'runs=' || true)
crashed=$(echo "$results" | grep -vc 'crashes=0 ' || true)
runs=$(echo "$results" | sed 's/.*runs=\([0-9]*\).*/\1/' | awk '{s+=$1} END {print s+0}')
if [ "$status" -ne 0 ]; then
    grep -aoE '(ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|reproducers and log kept).*' "$log" |
        sort -u || true
    grep -a 'Failed\|Timeout' "$log" | grep -a 'Test *#' || true
fi
echo "FUZZ SUMMARY targets=$targets failed=$crashed runs=$runs seconds_each=$SECONDS_EACH status=$status (log: $log)"
exit "$status"
