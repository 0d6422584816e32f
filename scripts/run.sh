#!/usr/bin/env bash
# `make run`: starts the stand-in index site in the background, waits until it
# answers, runs Quillmere on it and stops the site when Quillmere exits.
# Usage: scripts/run.sh BUILD_DIR
set -u

BUILD_DIR=${1:-build}
PROGRAM=$BUILD_DIR/bin/quillmere
SITE_PID=

say() { echo "make run: $*" >&2; }

have_display() { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }

no_display() {
  local how="xvfb-run -a make run"
  [ "$BUILD_DIR" != build ] && how="$how BUILD_DIR=$BUILD_DIR"
  say "no display (DISPLAY and WAYLAND_DISPLAY are empty); to run without one, use a virtual X server: $how"
  exit 1
}

# Asks 127.0.0.1:$1 for its home page and prints the Server header of the
# answer. Fails when nothing listens there.
probe() {
  local line
  exec 3<>"/dev/tcp/127.0.0.1/$1" || return 1
  printf 'GET /index.asp HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n' >&3
  while IFS= read -r -t 2 line <&3; do
    line=${line%$'\r'}
    [ -z "$line" ] && break
    case ${line,,} in server:*) echo "${line#*: }" ;; esac
  done
  exec 3<&- 3>&-
  return 0
}

stop_site() {
  if [ -n "$SITE_PID" ]; then
    kill "$SITE_PID" 2>/dev/null
    wait "$SITE_PID" 2>/dev/null
    SITE_PID=
  fi
}

# The site the program was built for; the stand-in site only stands in for a
# site on this machine.
host=$(sed -n 's/^QUILLMERE_SITE_HOST:[A-Z]*=//p' "$BUILD_DIR/CMakeCache.txt" 2>/dev/null)
host=${host:-127.0.0.1:8642}
case $host in
  127.0.0.1:* | localhost:*) PORT=${host##*:} ;;
  127.0.0.1 | localhost) PORT=80 ;;
  *) PORT= ;;
esac

if [ -z "$PORT" ]; then
  [ -x "$PROGRAM" ] || { say "Quillmere is not built yet ($PROGRAM is missing)"; exit 1; }
  have_display || no_display
  say "Quillmere was built for $host; the stand-in site is not needed"
  exec "$PROGRAM"
fi

if [ -x "$PROGRAM" ] && ! have_display; then
  no_display
fi

server=$(probe "$PORT" 2>/dev/null)
if [ $? -eq 0 ]; then
  if [ "$server" != quillmere-demo-site ]; then
    say "port $PORT is taken by another program; stop it, or build for another port with -DQUILLMERE_SITE_HOST=127.0.0.1:<port>"
    exit 1
  fi
  if [ ! -x "$PROGRAM" ]; then
    say "Quillmere is not built yet ($PROGRAM is missing); a stand-in site already runs on http://127.0.0.1:$PORT/"
    exit 0
  fi
  say "using the stand-in site that already runs on http://127.0.0.1:$PORT/"
else
  SITE=$BUILD_DIR/demo-site/quillmere-demo-site
  if [ ! -x "$SITE" ]; then
    SITE=$(find "$BUILD_DIR" -type f -name quillmere-demo-site -perm -u+x 2>/dev/null | head -n 1)
  fi
  if [ -z "$SITE" ]; then
    say "the stand-in site is not built in $BUILD_DIR (target quillmere-demo-site)"
    exit 1
  fi
  if [ ! -x "$PROGRAM" ]; then
    say "Quillmere is not built yet ($PROGRAM is missing); serving the stand-in site on http://127.0.0.1:$PORT/ in the foreground, Ctrl-C stops it"
    exec "$SITE" --port "$PORT"
  fi

  "$SITE" --port "$PORT" --quiet &
  SITE_PID=$!
  trap stop_site EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  for _ in $(seq 100); do
    if ! kill -0 "$SITE_PID" 2>/dev/null; then
      SITE_PID=
      say "the stand-in site stopped before it answered (see its message above)"
      exit 1
    fi
    [ "$(probe "$PORT" 2>/dev/null)" = quillmere-demo-site ] && break
    sleep 0.1
  done
  if [ "$(probe "$PORT" 2>/dev/null)" != quillmere-demo-site ]; then
    say "the stand-in site did not answer on port $PORT within 10 seconds"
    exit 1
  fi
fi

# The stand-in it started or found is the site for this run, whatever the
# settings say.
if [ -n "$PORT" ]; then
  "$PROGRAM" --site "$host"
else
  "$PROGRAM"
fi
exit $?
