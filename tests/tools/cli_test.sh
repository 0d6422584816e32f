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
mkdir -p -m 700 "$dir/home" "$dir/runtime"
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

# ARGS...: the program's status, its standard output and error in out and err,
# and how many lines each has, checked against STATUS OUT-LINES ERR-LINES.
expect() {
  want=$1 out_lines=$2 err_lines=$3
  shift 3
  env -i PATH=/usr/bin:/bin LANG=C.UTF-8 HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" \
    timeout 20 "$program" "$@" > "$dir/out" 2> "$dir/err"
  status=$?
  [ "$status" -eq "$want" ] && [ "$(wc -l < "$dir/err")" -eq "$err_lines" ] &&
    { [ "$out_lines" = any ] || [ "$(wc -l < "$dir/out")" -eq "$out_lines" ]; } ||
    fail "'$*' exited $status with output '$(head -c 300 "$dir/out")' and errors '$(cat "$dir/err")'"
}

expect 0 any 0 --help
head -n 1 "$dir/out" | grep -q '^Usage:' && grep -q -- '--version' "$dir/out" || fail "--help gives no usage with --version"
expect 0 1 0 --version
[ "$(cat "$dir/out")" = "quillmere 4.5.0" ] || fail "--version printed '$(cat "$dir/out")'"
expect 1 0 1 --no-such-option
grep -q -- 'no-such-option' "$dir/err" || fail "an unknown option is not named: $(cat "$dir/err")"
expect 1 0 1
grep -qi 'display' "$dir/err" || fail "without a display it does not say so: $(cat "$dir/err")"

[ "$failed" -eq 0 ] && echo "command line: all checks passed"
exit "$failed"
