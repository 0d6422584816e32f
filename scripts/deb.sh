#!/bin/sh
# `make deb`: builds the Debian package from a copy of the source tree made in
# BUILD_DIR/deb, so that nothing outside BUILD_DIR is written. The packages,
# the source package and the .changes and .buildinfo files land in
# BUILD_DIR/deb. QUILLMERE_SITE_HOST, when set, is the site to build for.
# Usage: scripts/deb.sh [BUILD_DIR]
set -eu
SRC_DIR=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${1:-build}
mkdir -p "$BUILD_DIR"
BUILD_DIR=$(cd "$BUILD_DIR" && pwd)
OUT_DIR=$BUILD_DIR/deb

# Each run starts afresh, so that the folder holds one version's files only.
version=$(dpkg-parsechangelog -l "$SRC_DIR/debian/changelog" -S Version)
tree=$OUT_DIR/quillmere-$version
rm -rf "$OUT_DIR"
mkdir -p "$tree"

if git -C "$SRC_DIR" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  # The working tree as it stands, new files included, without what git
  # ignores (the build folders) and without the build folder in use.
  case $BUILD_DIR in
    "$SRC_DIR"/*) skip=${BUILD_DIR#"$SRC_DIR"/}/ ;;
    *) skip= ;;
  esac
  (cd "$SRC_DIR" && git ls-files -z --cached --others --exclude-standard) |
    { if [ -n "$skip" ]; then grep -zv "^$skip"; else cat; fi; } |
    tar -C "$SRC_DIR" --null -T - --ignore-failed-read -cf - 2>/dev/null |
    tar -C "$tree" -xf -
else
  tar -C "$SRC_DIR" --exclude=./.git --exclude='./build*' --exclude="./${BUILD_DIR#"$SRC_DIR"/}" -cf - . |
    tar -C "$tree" -xf -
fi

cd "$tree"
QUILLMERE_SITE_HOST=${QUILLMERE_SITE_HOST:-} dpkg-buildpackage -us -uc -J"${JOBS:-$(nproc)}"
echo "make deb: packages in $OUT_DIR:"
ls "$OUT_DIR"/*.deb
