#!/bin/sh
# Configures and builds into build/ (or $SONVAR_BUILD_DIR). Extra arguments go
# to cmake, e.g. -DSONVAR_SANITIZE=thread.
set -e
cd "$(dirname "$0")/.."
BUILD_DIR=${SONVAR_BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=${SONVAR_BUILD_TYPE:-RelWithDebInfo} "$@" >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)"
