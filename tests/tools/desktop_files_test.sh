#!/bin/sh
# The desktop entry, the AppStream metainfo and the manual page: each valid for
# its own validator, and the first two agreeing with each other, with the
# screenshots and with the package's changelog.
# Usage: desktop_files_test.sh SOURCE_DIR MANUAL_PAGE VERSION
set -u
src=$1 manpage=$2 version=$3
desktop=$src/data/org.quillmere.Quillmere.desktop
metainfo=$src/data/org.quillmere.Quillmere.metainfo.xml
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

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

[ "$failed" -eq 0 ] && echo "desktop files: all checks passed"
exit "$failed"
