#!/bin/sh
# Installs what is missing, builds, and starts the program. It runs inside a
# private network namespace unless SONVAR_REAL_NETWORK=1 is set, so a trial
# run never sends device searches onto the local network.
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
BUILD_DIR=${SONVAR_BUILD_DIR:-build}
if [ "${SONVAR_REAL_NETWORK:-0}" = 1 ]; then
    exec "$BUILD_DIR/sonvar" "$@"
fi
exec scripts/netns-run "$BUILD_DIR/sonvar" "$@"
