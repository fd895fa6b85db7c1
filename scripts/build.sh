#!/bin/sh
# Configures and builds into build/ (or $SONVAR_BUILD_DIR): the program, the
# tools and the tests, then the benchmarks (not with SONVAR_BENCH_LATER=1,
# where the caller builds the target sonvar_benchmarks itself). Extra
# arguments go to cmake, e.g. -DSONVAR_SANITIZE=thread.
set -e
cd "$(dirname "$0")/.."
BUILD_DIR=${SONVAR_BUILD_DIR:-build}
# A new build folder builds with Ninja where it is installed: it schedules
# the whole build at once, without make's rescans target by target. One made
# before keeps its generator.
if [ -z "${CMAKE_GENERATOR:-}" ] && command -v ninja >/dev/null 2>&1; then
    export CMAKE_GENERATOR=Ninja
fi
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=${SONVAR_BUILD_TYPE:-RelWithDebInfo} "$@" >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)"
if [ "${SONVAR_BENCH_LATER:-0}" != 1 ] && cmake -L -N "$BUILD_DIR" 2>/dev/null | grep -q '^SONVAR_BENCH:BOOL=ON'; then
    cmake --build "$BUILD_DIR" -j "$(nproc)" --target sonvar_benchmarks
fi
