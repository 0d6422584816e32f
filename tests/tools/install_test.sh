#!/bin/sh
# `cmake --install` into a private DESTDIR and prefix, then the uninstall
# target: the bin/ link is installed as a relative link to the program, every
# installed file is in the manifest, and uninstalling leaves no file behind.
# The build tree's own manifest, from a real install, is put back afterwards.
# Usage: install_test.sh BUILD_DIR
set -u
build=$1
dir=$(mktemp -d)
manifest=$build/install_manifest.txt
[ -f "$manifest" ] && cp -p "$manifest" "$dir/saved-manifest"
restore() {
  if [ -f "$dir/saved-manifest" ]; then cp -p "$dir/saved-manifest" "$manifest"; else rm -f "$manifest"; fi
  rm -rf "$dir"
}
trap restore EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

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
echo "install and uninstall: all checks passed"
