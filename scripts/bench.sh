#!/bin/sh
# `make bench`: runs every Google Benchmark executable of the build in $1
# (already built), then the end-to-end benchmark of the program in a real
# WebKit under a virtual X server, which prints its table of medians.
set -eu
BUILD_DIR=${1:-build}
[ $# -gt 0 ] && shift

found=0
for bench in "$BUILD_DIR"/bench/bench_*; do
  [ -f "$bench" ] && [ -x "$bench" ] || continue
  found=1
  echo "== $(basename "$bench")"
  "$bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
done
[ "$found" = 1 ] || echo "no bench_* executables in $BUILD_DIR/bench" >&2

E2E=$BUILD_DIR/bench/e2e/quillmere-e2e-bench
if [ ! -x "$E2E" ]; then
  echo "the end-to-end benchmark is not built ($E2E): configure with QUILLMERE_BUILD_GUI=ON" >&2
  exit 1
fi
if ! command -v xvfb-run >/dev/null 2>&1; then
  echo "xvfb-run is needed for the end-to-end benchmark (package xvfb)" >&2
  exit 1
fi
echo "== end to end, under Xvfb"
# The benchmark serves the stand-in site on the port the program was built
# for, so nothing else may serve there meanwhile.
WEBKIT_DISABLE_COMPOSITING_MODE=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$E2E" "$@"
echo "== endurance, under Xvfb on a private desktop"
ENDURANCE=$BUILD_DIR/bench/e2e/quillmere-endurance
WEBKIT_DISABLE_COMPOSITING_MODE=1 sh "$(dirname "$0")/../tests/desktop/private_desktop.sh" "" \
  dbus-run-session -- xvfb-run -a -s "-screen 0 1280x1024x24" "$ENDURANCE"
