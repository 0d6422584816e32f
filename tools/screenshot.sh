#!/bin/sh
# Takes screenshots of the main window and of a results window under Xvfb,
# on the stand-in site: docs/screenshots/main-window.png and results-window.png.
#   tools/screenshot.sh [BUILD_DIR] [QUERY]
set -eu
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build}
QUERY=${2:-Lune}
OUT=docs/screenshots

if [ -z "${QUILLMERE_IN_XVFB:-}" ]; then
  export QUILLMERE_IN_XVFB=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$BUILD_DIR" "$QUERY"
fi

export WEBKIT_DISABLE_COMPOSITING_MODE=1
mkdir -p "$OUT"
"$BUILD_DIR/demo-site/quillmere-demo-site" --port 8642 --quiet &
SITE=$!
"$BUILD_DIR/bin/quillmere" &
PROGRAM=$!
trap 'kill $PROGRAM $SITE 2>/dev/null || true' EXIT

# Waits up to 30 s for a window with exactly this title; prints its id.
wait_window() {
  i=0
  while [ $i -lt 150 ]; do
    id=$(xdotool search --name "^$1\$" 2>/dev/null | tail -n 1 || true)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.2; i=$((i + 1))
  done
  echo "no window titled '$1'" >&2
  return 1
}

MAIN=$(wait_window "Quillmere 4.5")
sleep 3
xdotool type --delay 60 "$QUERY"
sleep 0.5
import -window "$MAIN" "$OUT/main-window.png"
xdotool key Return
RESULTS=$(wait_window "Quillmere: $QUERY")
xdotool windowmove "$RESULTS" 40 60
sleep 3
import -window "$RESULTS" "$OUT/results-window.png"
echo "Wrote $OUT/main-window.png and $OUT/results-window.png"
