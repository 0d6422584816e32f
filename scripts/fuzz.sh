#!/bin/sh
# Builds the libFuzzer targets with clang (in build-fuzz) and runs each for
# FUZZ_SECONDS seconds (600 by default), one after another. Reports the
# executions each target reached; exits non-zero when any target crashed,
# leaked, timed out on an input or broke one of its invariants.
#
#   FUZZ_SECONDS=3600 scripts/fuzz.sh              # every target, an hour each
#   FUZZ_SECONDS=60 scripts/fuzz.sh replace_all    # one target
#
# Each target keeps its growing corpus in build-fuzz/corpus/<target> between
# runs; the committed seeds (fuzz/corpus) are only read. A crashing input lands in build-fuzz/artifacts/.
set -eu
SRC_DIR=$(cd "$(dirname "$0")/.." && pwd)
FUZZ_DIR=${FUZZ_BUILD_DIR:-$SRC_DIR/build-fuzz}
FUZZ_SECONDS=${FUZZ_SECONDS:-600}
JOBS=${JOBS:-$(nproc)}
BASE_URL="http://127.0.0.1:8642/"

: "${ASAN_OPTIONS:=detect_leaks=1:abort_on_error=1}"
: "${UBSAN_OPTIONS:=halt_on_error=1:print_stacktrace=1}"
export ASAN_OPTIONS UBSAN_OPTIONS

cmake -S "$SRC_DIR" -B "$FUZZ_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQUILLMERE_FUZZ=ON \
  -DQUILLMERE_BUILD_GUI=OFF -DQUILLMERE_BUILD_TESTS=OFF -DQUILLMERE_BUILD_BENCH=OFF >/dev/null
cmake --build "$FUZZ_DIR" -j "$JOBS" --target quillmere_fuzzers

# --- Seeds ---------------------------------------------------------------
# Site pages: the committed ones, hand-written and as the stand-in site
# serves them (site-*.html).
SEEDS=$FUZZ_DIR/seeds
rm -rf "$SEEDS"
mkdir -p "$SEEDS/pages" "$SEEDS/replace" "$SEEDS/urls"
cp "$SRC_DIR"/fuzz/corpus/pages/* "$SEEDS/pages/"

# ReplaceAll reads "find\;replacement\;text": each page once with every
# rewrite that the results builder makes on it.
n=0
for page in "$SEEDS"/pages/*; do
  for find in download.asp? search.asp?mode=torrentdetails\& directory.asp?mode=sub\& \
              images/downloadlock.gif search.asp? directory.asp? amp\;; do
    n=$((n + 1))
    repl="$BASE_URL$find"
    [ "$find" = "amp;" ] && repl=""
    { printf '%s\\;%s\\;' "$find" "$repl"; cat "$page"; } >"$SEEDS/replace/seed-$n"
  done
done

# URLs: the committed list, and every link of the pages made absolute the
# way the builder makes it.
n=0
{
  grep -v '^#' "$SRC_DIR/fuzz/corpus/urls.txt" 2>/dev/null || true
  cat "$SEEDS"/pages/* | grep -o 'href="[^"]*"' | sed -e 's/^href="//' -e 's/"$//' |
    sed -e "/^[a-z]*:/!s|^|$BASE_URL|" | sort -u
} | while IFS= read -r url; do
  n=$((n + 1))
  printf '%s' "$url" >"$SEEDS/urls/seed-$n"
done

seeds_for() {
  case "$1" in
    replace_all) echo "$SEEDS/replace" ;;
    url_split) echo "$SEEDS/urls" ;;
    *) echo "$SEEDS/pages" ;;
  esac
}

# --- Runs ----------------------------------------------------------------
if [ $# -gt 0 ]; then
  TARGETS="$*"
else
  TARGETS=$(cd "$FUZZ_DIR/fuzz" && ls fuzz_* | sed 's/^fuzz_//' | sort)
  [ -n "$TARGETS" ] || { echo "fuzz.sh: no fuzz targets were built" >&2; exit 1; }
fi

mkdir -p "$FUZZ_DIR/logs" "$FUZZ_DIR/artifacts"
SUMMARY=$FUZZ_DIR/logs/summary.txt
: >"$SUMMARY"
failed=0
for target in $TARGETS; do
  exe=$FUZZ_DIR/fuzz/fuzz_$target
  log=$FUZZ_DIR/logs/$target.log
  corpus=$FUZZ_DIR/corpus/$target
  mkdir -p "$corpus"
  printf '%-18s %5s s ... ' "$target" "$FUZZ_SECONDS"
  status=0
  # -timeout: one input that takes seconds is a finding too (the builder runs
  # over pages of many megabytes). The site's pages run to some 16 KiB; the
  # limit leaves room to grow them.
  "$exe" "$corpus" "$(seeds_for "$target")" -max_total_time="$FUZZ_SECONDS" -print_final_stats=1 \
    -timeout=10 -rss_limit_mb=2048 -max_len=32768 -artifact_prefix="$FUZZ_DIR/artifacts/$target-" \
    >"$log" 2>&1 || status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  units=$(ls "$corpus" | wc -l)
  if [ "$status" -eq 0 ]; then
    result="ok"
  else
    result="FAILED (exit $status, see $log)"
    failed=1
  fi
  line=$(printf '%-18s executions %-10s (%s/s), corpus %s: %s' "$target" "${execs:-?}" "${rate:-?}" "$units" "$result")
  echo "$line" | cut -c20-
  echo "$line" >>"$SUMMARY"
  if [ "$status" -ne 0 ]; then
    grep -E 'ERROR|invariant broken|SUMMARY|Test unit written' "$log" | head -n 20 >&2 || true
  fi
done

echo "Fuzz summary ($FUZZ_SECONDS s per target):"
cat "$SUMMARY"
exit $failed
