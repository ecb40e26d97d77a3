#!/usr/bin/env bash
# Makes a release of the commit checked out, in dist/: the Debian package, the Windows
# zip, a source archive of the commit, and SHA256SUMS over the three; each carries the web
# page, tpmidi01.html (the package in /usr/share/tpmidi01). Refuses a work tree
# with changes, and a CHANGELOG.md whose top entry's version is not CMake's.
#   scripts/release.sh
set -euo pipefail
cd "$(dirname "$0")/.."
trap 'echo "release.sh: FAILED at line $LINENO: $BASH_COMMAND" >&2' ERR
# The Debian package's build and the Windows zip's cross build, installed once.
bash scripts/setup.sh platforms
export TPMIDI_PROVISIONED=platforms
if [ -n "$(git status --porcelain)" ]; then
    echo "release.sh: the work tree has changes (below): commit or stash them, so that the release is the commit" >&2
    git status --short >&2
    exit 1
fi
version=$(sed -n 's/^project(tpmidi01 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
logged=$(sed -n '1s/^tpmidi01 (\([^)]*\)).*/\1/p' CHANGELOG.md)
if [ -z "$version" ] || [ "$version" != "$logged" ]; then
    echo "release.sh: CMakeLists.txt says version ${version:-(none)}, CHANGELOG.md's top entry ${logged:-(none)}: make them agree" >&2
    exit 1
fi
dist=$PWD/dist
rm -rf "$dist" && mkdir -p "$dist"
packed=$(mktemp -d)
trap 'rm -rf "$packed"' EXIT

echo "release.sh: the web page"
bash scripts/web.sh --build
[ -f build-web/tpmidi01.html ] || { echo "release.sh: FAILED: no build-web/tpmidi01.html" >&2; exit 1; }

echo "release.sh: the Debian package"
bash scripts/build.sh release >/dev/null
(cd build-release && cpack -G DEB -B "$packed/deb" >/dev/null)
mv "$packed"/deb/tpmidi01_*.deb "$dist/"

echo "release.sh: the Windows zip (cross-built)"
bash scripts/platforms.sh windows_build
(cd build-windows && cpack -G ZIP -B "$packed/zip" >/dev/null)
mv "$packed"/zip/tpmidi01-*.zip "$dist/"

echo "release.sh: the source archive"
git archive --format=tar.gz --prefix="tpmidi01-$version/" --add-file=build-web/tpmidi01.html \
    -o "$dist/tpmidi01-$version.tar.gz" HEAD

(cd "$dist" && sha256sum -- *.deb *.zip *.tar.gz >SHA256SUMS)
echo "release.sh: tpmidi01 $version in dist/:"
ls -1 "$dist"
