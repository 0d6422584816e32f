#!/bin/sh
# The program's command line, with no display and no session bus: --help and
# --version answer and exit 0, an unknown option and a missing display each
# give one line on stderr and exit status 1. Every run has a time limit, so a
# program that opens a window instead fails rather than hangs.
# Usage: cli_test.sh PROGRAM
set -u
program=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir -p -m 700 "$dir/home" "$dir/config" "$dir/data" "$dir/cache" "$dir/runtime"
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

# Runs the program with the given arguments in a bare environment of its own;
# its status goes to $status, its output to out and err.
run() {
  env -i PATH=/usr/bin:/bin LANG=C.UTF-8 HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" \
    XDG_DATA_HOME="$dir/data" XDG_CACHE_HOME="$dir/cache" XDG_RUNTIME_DIR="$dir/runtime" \
    timeout 20 "$program" "$@" > "$dir/out" 2> "$dir/err"
  status=$?
}
lines() { wc -l < "$dir/$1"; }

run --help
[ "$status" -eq 0 ] || fail "--help exited $status"
head -n 1 "$dir/out" | grep -q '^Usage:' || fail "--help did not begin with 'Usage:': $(head -n 3 "$dir/out")"
grep -q -- '--version' "$dir/out" || fail "--help does not list --version"
[ -s "$dir/err" ] && fail "--help wrote to stderr: $(cat "$dir/err")"

run --version
[ "$status" -eq 0 ] || fail "--version exited $status"
[ "$(cat "$dir/out")" = "quillmere 4.5.0" ] && [ "$(lines out)" -eq 1 ] ||
  fail "--version printed '$(cat "$dir/out")', not the one line 'quillmere 4.5.0'"
[ -s "$dir/err" ] && fail "--version wrote to stderr: $(cat "$dir/err")"

run --no-such-option
[ "$status" -eq 1 ] || fail "an unknown option exited $status, not 1"
[ "$(lines err)" -eq 1 ] && grep -q -- 'no-such-option' "$dir/err" ||
  fail "an unknown option did not give one line naming it: $(cat "$dir/err")"
[ -s "$dir/out" ] && fail "an unknown option wrote to stdout: $(cat "$dir/out")"

run
[ "$status" -eq 1 ] || fail "without a display it exited $status, not 1"
[ "$(lines err)" -eq 1 ] && grep -qi 'display' "$dir/err" ||
  fail "without a display it did not give one line that says so: $(cat "$dir/err")"

[ "$failed" -eq 0 ] && echo "command line: all checks passed"
exit "$failed"
