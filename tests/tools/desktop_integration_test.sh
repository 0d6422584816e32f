#!/bin/sh
# The program and its tools as a desktop and a packager meet them, one case a
# run:
#   cli PROGRAM: --help and --version answer and exit 0; an unknown option and
#     a missing display each give one line on stderr and exit 1, with no
#     display and no session bus. Every run has a time limit, so a program
#     that opens a window instead fails rather than hangs.
#   files SOURCE_DIR MANUAL_PAGE VERSION: the desktop entry, the AppStream
#     metainfo and the manual page, each valid for its own validator, and the
#     first two agreeing with each other, the screenshots and the changelog.
#   page TOOL: quillmere-page on a saved page: the three texts in UTF-8, the
#     variant's ampersand handling, and exit status 2 with one line on stderr
#     for misuse.
#   install BUILD_DIR: `cmake --install` into a private DESTDIR and prefix,
#     then the uninstall target: bin/ holds a relative link to the program,
#     every installed file is in the manifest, and uninstalling leaves no file
#     behind. The build tree's own manifest is put back afterwards.
set -u
case=$1
shift
dir=$(mktemp -d)
trap 'if [ -f "$dir/saved-manifest" ]; then cp -p "$dir/saved-manifest" "$manifest"; fi; rm -rf "$dir"' EXIT
failed=0
fail() { echo "FAIL $case: $*" >&2; failed=1; }

case $case in
cli)
  program=$1
  mkdir -p -m 700 "$dir/home" "$dir/runtime"
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
  ;;
files)
  src=$1 manpage=$2 version=$3
  desktop=$src/data/org.quillmere.Quillmere.desktop
  metainfo=$src/data/org.quillmere.Quillmere.metainfo.xml
  # Hints count too: a desktop entry that validates with remarks is not left so.
  desktop-file-validate "$desktop" > "$dir/out" 2>&1 && [ ! -s "$dir/out" ] || fail "desktop-file-validate: $(cat "$dir/out")"
  appstreamcli validate --no-net "$metainfo" > "$dir/out" 2>&1 || fail "appstreamcli validate: $(cat "$dir/out")"

  # The desktop file id names the component, and the metainfo launches it.
  id=$(sed -n 's|^ *<id>\(.*\)</id>$|\1|p' "$metainfo")
  [ "$id.desktop" = "$(basename "$desktop")" ] || fail "component id '$id' is not the desktop file's name"
  grep -q "<launchable type=\"desktop-id\">$(basename "$desktop")</launchable>" "$metainfo" ||
    fail "metainfo does not launch $(basename "$desktop")"
  grep -qx 'Exec=quillmere' "$desktop" || fail "Exec is not the installed command quillmere"
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  [ -f "$src/data/icons/$icon.svg" ] || fail "Icon=$icon names no icon in data/icons"

  # The newest release, the changelog's top entry and the build agree.
  release=$(sed -n 's|.*<release version="\([^"]*\)".*|\1|p' "$metainfo" | head -n 1)
  [ "$release" = "$version" ] || fail "metainfo's newest release is '$release', the build's $version"
  changelog=$(sed -n '1s/^quillmere (\([^)]*\)).*/\1/p' "$src/debian/changelog")
  [ "$changelog" = "$version" ] || fail "debian/changelog's version is '$changelog', the build's $version"

  # Each screenshot exists and has the size the metainfo gives for it: the
  # pictures are retaken now and then, and the sizes must follow.
  sed -n 's|.*<image type="source" width="\([0-9]*\)" height="\([0-9]*\)">https://[^<]*/\([^/<]*\)</image>.*|\1 \2 \3|p' \
    "$metainfo" > "$dir/shots"
  while read -r width height name; do
    png=$src/docs/screenshots/$name
    [ -f "$png" ] || { fail "screenshot $name is not in docs/screenshots"; continue; }
    # Width and height are the big-endian words at bytes 16 and 20 of a PNG.
    set -- $(od -An -tu1 -j16 -N8 "$png")
    real="$(($1 * 16777216 + $2 * 65536 + $3 * 256 + $4)) $(($5 * 16777216 + $6 * 65536 + $7 * 256 + $8))"
    [ "$real" = "$width $height" ] || fail "$name is $real, the metainfo says $width $height"
  done < "$dir/shots"
  [ -s "$dir/shots" ] || fail "no screenshot found in the metainfo"

  LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$manpage" > "$dir/out" 2>&1
  [ -s "$dir/out" ] && fail "groff warns about the manual page: $(cat "$dir/out")"
  ;;
page)
  tool=$1
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
  ;;
install)
  build=$1
  manifest=$build/install_manifest.txt
  # With no manifest of its own, the build tree is left without one.
  if [ -f "$manifest" ]; then cp -p "$manifest" "$dir/saved-manifest"; else trap 'rm -f "$manifest"; rm -rf "$dir"' EXIT; fi
  # A prefix unlike the configured one: the link must not depend on it.
  prefix=/opt/quillmere-install-test
  root=$dir/root
  DESTDIR=$root cmake --install "$build" --prefix "$prefix" > "$dir/install.log" 2>&1 ||
    fail "cmake --install: $(cat "$dir/install.log")"

  link=$root$prefix/bin/quillmere
  program=$(readlink -f "$link")
  case $(readlink "$link") in /* | "") fail "bin/quillmere is not a relative link: $(readlink "$link")" ;; esac
  [ -x "$program" ] && [ -f "$(dirname "$program")/Data/index.dat" ] || fail "bin/quillmere leads to no program with its start page"
  grep -qx "$prefix/bin/quillmere" "$manifest" || fail "the manifest does not list bin/quillmere"

  # What is on disk and what the manifest lists are the same set.
  (cd "$root" && find . ! -type d | sed 's|^\.||' | sort) > "$dir/installed"
  sort "$manifest" > "$dir/listed"
  cmp -s "$dir/installed" "$dir/listed" || fail "installed files and manifest differ: $(diff "$dir/listed" "$dir/installed")"
  for f in share/applications/org.quillmere.Quillmere.desktop share/metainfo/org.quillmere.Quillmere.metainfo.xml \
    share/man/man1/quillmere.1 share/icons/hicolor/48x48/apps/quillmere.png \
    share/glib-2.0/schemas/org.quillmere.Quillmere.gschema.xml; do
    grep -qx "$prefix/$f" "$dir/listed" || fail "$f is not installed"
  done

  DESTDIR=$root cmake --build "$build" --target uninstall > "$dir/uninstall.log" 2>&1 ||
    fail "uninstall: $(cat "$dir/uninstall.log")"
  left=$(cd "$root" && find . ! -type d)
  [ -z "$left" ] || fail "left behind after uninstall: $left"
  [ -e "$(dirname "$program")" ] && fail "the program's folder is left behind"
  # Each removal is reported.
  [ "$(grep -c '^-- Removing: ' "$dir/uninstall.log")" -eq "$(wc -l < "$dir/listed")" ] ||
    fail "uninstall did not report each file it removed: $(cat "$dir/uninstall.log")"
  ;;
esac
[ "$failed" -eq 0 ] && echo "$case: all checks passed"
exit "$failed"
