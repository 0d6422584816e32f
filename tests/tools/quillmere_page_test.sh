#!/bin/sh
# quillmere-page on a saved page: the three texts in UTF-8, the variant's
# ampersand handling, and exit status 2 with one line on stderr for misuse.
set -u
tool=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# A page as the site serves it, in windows-1252: 0xE9 is e-acute, 0x80 the euro sign.
printf '<html><table><tr><td>Torrent Name</td></tr><tr><td>caf\351 \200 <a href="download.asp?id=1&amp;f=x">x</a></td></tr></table><td>Pages (1)</td></html>' > "$dir/page.html"
"$tool" "$dir/page.html" > "$dir/main.out" || fail "main variant exited $?"
head -c 15 "$dir/main.out" | grep -q '^<!DOCTYPE HTML ' || fail "page does not begin with the template"
grep -q 'café €' "$dir/main.out" || fail "windows-1252 text not written as UTF-8"
grep -q 'download.asp?id=1&amp;f=x' "$dir/main.out" || fail "main variant changed &amp;"
tail -c 32 "$dir/main.out" | grep -q '</td></tr></table></body></html>$' || fail "navigation row not closed"
"$tool" --variant results "$dir/page.html" | grep -q 'download.asp?id=1&f=x' || fail "results variant kept &amp;"
printf 'nothing here' > "$dir/none.html"
"$tool" "$dir/none.html" | grep -q 'Your search did not result in any matches.</table></body></html>$' ||
  fail "no-match page"

for args in "$dir/missing.html" "--variant other $dir/page.html" "--bogus $dir/page.html" ""; do
  # shellcheck disable=SC2086
  "$tool" $args > "$dir/out" 2> "$dir/err"
  status=$?
  [ "$status" -eq 2 ] && [ "$(wc -l < "$dir/err")" -eq 1 ] && [ ! -s "$dir/out" ] ||
    fail "'$args' exited $status, wrote '$(cat "$dir/out")' and '$(cat "$dir/err")'; not 2, nothing and one line"
done
echo "quillmere-page: all checks passed"
