#!/bin/sh
# Runs every test of the project against the build in $1 (already built).
#
# Stages, in order; any failure stops the run with a non-zero status:
#   1. the core's unit tests, rebuilt with AddressSanitizer and
#      UndefinedBehaviorSanitizer (leak checking on) in a build of their own;
#   2. every fuzz target for a bounded time (TEST_FUZZ_SECONDS, 30 s by default);
#   3. the Debian package, built with `make deb` in BUILD_DIR/deb, which lintian
#      must pass without an error or a warning; run when dpkg-buildpackage,
#      debhelper and lintian are installed;
#   4. ctest over the main build, whose summary ends the output.
# SKIP_SANITIZE=1, SKIP_FUZZ=1 or SKIP_DEB=1 leaves out stage 1, 2 or 3.
set -eu
BUILD_DIR=${1:-build}
JOBS=${JOBS:-$(nproc)}
SRC_DIR=$(cd "$(dirname "$0")/.." && pwd)
ASAN_DIR=${ASAN_BUILD_DIR:-$SRC_DIR/build-asan}

# Sanitizer settings shared by the sanitizer stage and the fuzz stage.
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export ASAN_OPTIONS UBSAN_OPTIONS

if [ "${SKIP_SANITIZE:-0}" != 1 ]; then
  echo "== Unit tests under AddressSanitizer + UndefinedBehaviorSanitizer ($ASAN_DIR)"
  # The same compiler as the main build (GCC): the tests are written for it,
  # and Debian's clang 14 lacks parts of C++20 that they use.
  cmake -S "$SRC_DIR" -B "$ASAN_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ \
    -DQUILLMERE_SANITIZE=ON -DQUILLMERE_BUILD_GUI=OFF -DQUILLMERE_BUILD_BENCH=OFF >/dev/null
  cmake --build "$ASAN_DIR" -j "$JOBS"
  # A sanitizer report aborts the test process, which ctest counts as failed.
  (cd "$ASAN_DIR" && ctest --output-on-failure -j "$JOBS")
fi

if [ "${SKIP_FUZZ:-0}" != 1 ]; then
  echo "== Fuzz targets, ${TEST_FUZZ_SECONDS:-30} s each"
  FUZZ_SECONDS=${TEST_FUZZ_SECONDS:-30} JOBS=$JOBS "$SRC_DIR/scripts/fuzz.sh"
fi

if [ "${SKIP_DEB:-0}" != 1 ]; then
  if command -v dpkg-buildpackage >/dev/null && command -v dh >/dev/null && command -v lintian >/dev/null; then
    echo "== Debian package ($BUILD_DIR/deb)"
    # The package's build is long-winded; its log is shown only when it fails.
    if ! JOBS=$JOBS "$SRC_DIR/scripts/deb.sh" "$BUILD_DIR" > "$BUILD_DIR/deb.log" 2>&1; then
      tail -n 60 "$BUILD_DIR/deb.log"
      echo "make deb failed; the whole log is $BUILD_DIR/deb.log"
      exit 1
    fi
    lintian --fail-on error,warning "$BUILD_DIR"/deb/quillmere_*.changes
    echo "lintian: no error and no warning"
  else
    echo "== Debian package: skipped (dpkg-buildpackage, debhelper or lintian is not installed)"
  fi
fi

echo "== Tests of the main build ($BUILD_DIR)"
cd "$BUILD_DIR"
ctest --output-on-failure -j "$JOBS"
