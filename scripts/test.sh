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

# The benchmarks and the fuzz targets build at the lowest priority while the
# tests run: the tests spend most of their time waiting on the clock and on
# the programs they start, and these builds take only what they leave. The
# fuzzing itself waits for the tests, so that each target has the cores for
# its whole time.
if [ "$everything" = 1 ]; then
    later_log="$BUILD_DIR/builds-beside-tests.log"
    (
        set -e
        if cmake -L -N "$BUILD_DIR" 2>/dev/null | grep -q '^SONVAR_BENCH:BOOL=ON'; then
            nice -n 19 cmake --build "$BUILD_DIR" -j "$(nproc)" --target sonvar_benchmarks
        fi
        if [ "$FUZZ_SECONDS" -gt 0 ]; then
            nice -n 19 scripts/fuzz.sh --build-only
        fi
    ) >"$later_log" 2>&1 &
    later=$!
fi
# Two jobs a core: most tests wait on the clock and on the programs they
# start, and one that opens sockets counts as two jobs (tests/CMakeLists.txt),
# so that those running at once never want more processors than there are.
# Each runs in a network namespace of its own (tests/support/own_network.sh),
# so tests side by side never share a port.
TEST_JOBS=${SONVAR_TEST_JOBS:-$(($(nproc) * 2))}
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
