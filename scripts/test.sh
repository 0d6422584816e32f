#!/bin/sh
# Runs every test of the project against the build in $1 (already built).
set -eu
BUILD_DIR=${1:-build}
JOBS=${JOBS:-$(nproc)}
cd "$BUILD_DIR"
ctest --output-on-failure -j "$JOBS"
