#!/bin/sh
# Installs what is missing, builds, and runs every test inside a private
# network namespace (loopback only) with GUI tests on a virtual X display.
# Extra arguments go to ctest, e.g. -L base.
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
BUILD_DIR=${SONVAR_BUILD_DIR:-build}
exec scripts/netns-run xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)" "$@"
