#!/bin/sh
# Installs what is missing, builds, and runs every test inside a private
# network namespace (loopback only) with GUI tests on a virtual X display;
# builds the benchmarks and the fuzz targets (with clang) and fuzzes each
# target briefly ($SONVAR_FUZZ_SECONDS, default 30; 0 skips them). Extra
# arguments go to ctest, e.g. -L base, and skip the benchmarks and the fuzz
# targets.
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh
SONVAR_BENCH_LATER=1 scripts/build.sh
BUILD_DIR=${SONVAR_BUILD_DIR:-build}
FUZZ_SECONDS=${SONVAR_FUZZ_SECONDS:-30}
everything=0
[ "$#" -eq 0 ] && everything=1

# The benchmarks and the fuzz targets build while the tests run, as idle
# work (SCHED_IDLE where chrt is there, else the lowest niceness): the tests
# spend most of their time waiting on the clock and on the programs they
# start, these builds take only the processors the tests leave, and a test's
# thread that wakes has its processor back at once. The fuzzing itself waits
# for the tests, so that each target has the cores for its whole time.
idle="nice -n 19"
if command -v chrt >/dev/null 2>&1 && chrt --idle 0 true 2>/dev/null; then
    idle="chrt --idle 0 nice -n 19"
fi
if [ "$everything" = 1 ]; then
    later_log="$BUILD_DIR/builds-beside-tests.log"
    (
        set -e
        if cmake -L -N "$BUILD_DIR" 2>/dev/null | grep -q '^SONVAR_BENCH:BOOL=ON'; then
            $idle cmake --build "$BUILD_DIR" -j "$(nproc)" --target sonvar_benchmarks
        fi
        if [ "$FUZZ_SECONDS" -gt 0 ]; then
            $idle scripts/fuzz.sh --build-only
        fi
    ) >"$later_log" 2>&1 &
    later=$!
fi
# Two jobs a core, and eight on a machine of fewer than four cores. The
# tests wait on the clock and on the programs they start: all of them take
# about 200 CPU-s in 1,700 s of their own time. One that opens sockets counts
# as two jobs (tests/CMakeLists.txt), one that drives input as three. On two
# cores beside six busy ones, four jobs a core ran the tests in 10 min, all
# passing; two a core took 22 min. Each test runs in a network namespace of
# its own (tests/support/own_network.sh), so tests side by side never share
# a port.
cores=$(nproc)
TEST_JOBS=${SONVAR_TEST_JOBS:-$((cores < 4 ? 8 : cores * 2))}
status=0
scripts/netns-run xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" \
    ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$TEST_JOBS" "$@" || status=$?
if [ "$everything" = 1 ]; then
    if ! wait "$later"; then
        cat "$later_log"
        echo "the benchmarks or the fuzz targets did not build"
        exit 1
    fi
    if [ "$FUZZ_SECONDS" -gt 0 ]; then
        scripts/fuzz.sh --no-build "$FUZZ_SECONDS" || status=$?
    fi
fi
exit "$status"
