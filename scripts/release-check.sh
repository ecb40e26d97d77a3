#!/usr/bin/env bash
# Makes a release from a fresh clone of the commit checked out, as a maintainer would, and
# checks what scripts/release.sh made: the four files and their checksums, the zip's
# program under Wine from the unpacked zip alone, the package installed and run; and that
# it refuses a tree with changes. The clone borrows build-deps/ (the Windows libraries).
set -euo pipefail
cd "$(dirname "$0")/.."
trap 'echo "release-check.sh: FAILED at line $LINENO: $BASH_COMMAND" >&2' ERR
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
git clone -q . "$work/clone"
ln -s "$PWD/build-deps" "$work/clone/build-deps"
version=$(sed -n 's/^project(tpmidi01 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
if ! (cd "$work/clone" && bash scripts/release.sh) >"$work/release.log" 2>&1; then
    tail -n 40 "$work/release.log"
    echo "release-check.sh: FAILED: scripts/release.sh in a fresh clone (its output above)" >&2
    exit 1
fi
dist=$work/clone/dist
deb=$dist/tpmidi01_${version}_amd64.deb zip=$dist/tpmidi01-$version-windows-x86_64.zip
for made in "$deb" "$zip" "$dist/tpmidi01-$version.tar.gz" "$dist/SHA256SUMS"; do
    [ -f "$made" ] || { echo "release-check.sh: FAILED: no $(basename "$made") in dist/: $(ls "$dist")" >&2; exit 1; }
done
(cd "$dist" && sha256sum --quiet -c SHA256SUMS)
echo "ok: the checksums verify"

# The web page, the same file in each.
page=$work/clone/build-web/tpmidi01.html
mkdir "$work/pages"
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/tpmidi01/tpmidi01.html >"$work/pages/deb.html"
python3 -c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1])
sys.stdout.buffer.write(b"".join(z.read(n) for n in z.namelist() if n.split("/")[-1] == "tpmidi01.html"))' \
    "$zip" >"$work/pages/zip.html"
tar -xzOf "$dist/tpmidi01-$version.tar.gz" "tpmidi01-$version/tpmidi01.html" >"$work/pages/source.html"
for carried in deb zip source; do
    cmp -s "$page" "$work/pages/$carried.html" ||
        { echo "release-check.sh: FAILED: the $carried's tpmidi01.html is not the page built" >&2; exit 1; }
done
echo "ok: the package, the zip and the source archive carry the web page"

mkdir "$work/unzipped"
(cd "$work/unzipped" && python3 -m zipfile -e "$zip" .)
exe=$(find "$work/unzipped" -name tpmidi01.exe)
# Wine's own first-run messages go to its error stream, kept apart.
said=$(WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" /usr/lib/wine/wine64 "$exe" --version \
       2>"$work/wine.err" </dev/null | tr -d '\r') || true
[ "$said" == "tpmidi01 $version" ] ||
    { cat "$work/wine.err"; echo "release-check.sh: FAILED: the zip's tpmidi01.exe --version said: $said" >&2; exit 1; }
echo "ok: the zip's tpmidi01.exe --version under Wine: $said"

installed_before=false
dpkg-query -W -f='${Status}' tpmidi01 2>/dev/null | grep -q "install ok installed" && installed_before=true
dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; echo "release-check.sh: FAILED: dpkg -i $(basename "$deb")" >&2; exit 1; }
said=$(/usr/bin/tpmidi01 --version)
$installed_before || dpkg -r tpmidi01 >/dev/null
[ "$said" == "tpmidi01 $version" ] || { echo "release-check.sh: FAILED: the installed tpmidi01 --version said: $said" >&2; exit 1; }
echo "ok: the package installs, and its tpmidi01 --version says: $said"

echo "a change" >>"$work/clone/README.md"
if (cd "$work/clone" && bash scripts/release.sh) >"$work/dirty.log" 2>&1 || ! grep -q "the work tree has changes" "$work/dirty.log"; then
    cat "$work/dirty.log"
    echo "release-check.sh: FAILED: scripts/release.sh did not refuse a tree with changes" >&2
    exit 1
fi
echo "ok: a tree with changes is refused"

git -C "$work/clone" checkout -q -- README.md
sed -i '1s/([^)]*)/(0.0.1)/' "$work/clone/CHANGELOG.md"
git -C "$work/clone" -c user.name=check -c user.email=check@example.org commit -qam "another version in the changelog"
if (cd "$work/clone" && bash scripts/release.sh) >"$work/version.log" 2>&1 || ! grep -q "make them agree" "$work/version.log"; then
    cat "$work/version.log"
    echo "release-check.sh: FAILED: scripts/release.sh did not refuse a changelog of another version" >&2
    exit 1
fi
echo "ok: a changelog of another version is refused"
