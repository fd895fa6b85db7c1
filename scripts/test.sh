#!/bin/sh
# Installs what is missing, builds, and runs every test inside a private
# network namespace (loopback only) with GUI tests on a virtual X display;
# then builds the fuzz targets with clang and fuzzes each briefly
# ($SONVAR_FUZZ_SECONDS, default 30; 0 skips them). Extra arguments go to
# ctest, e.g. -L base, and skip the fuzz runs.
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
BUILD_DIR=${SONVAR_BUILD_DIR:-build}
status=0
scripts/netns-run xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" \
    ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)" "$@" || status=$?
FUZZ_SECONDS=${SONVAR_FUZZ_SECONDS:-30}
if [ "$#" -eq 0 ] && [ "$FUZZ_SECONDS" -gt 0 ]; then
    scripts/fuzz.sh "$FUZZ_SECONDS" || status=$?
fi
exit "$status"
