#!/usr/bin/env bash
# Builds the Debian package from the release build (scripts/build.sh first)
# and checks it: its control data, its files, and that the programs start
# from a fresh root with nothing of the build around them.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build
[ -x "$dir/tavirel" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }
cmake --build "$dir" --target man_pages >/dev/null
rm -f "$dir"/tavirel_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/tavirel_*.deb)
echo "package: $deb"

info=$(dpkg-deb -I "$deb")
grep -E '^ (Package|Version|Architecture|Depends|Recommends|Section):' <<<"$info"
for field in "Package: tavirel" "Depends: .*libqt5widgets5" "Depends: .*librtlsdr0"; do
  grep -Eq "^ $field" <<<"$info" || { echo "control data lacks '$field'" >&2; exit 1; }
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
for f in usr/bin/tavirel usr/bin/tavirel-cli usr/bin/tavirel-siggen \
         usr/share/applications/tavirel.desktop usr/share/icons/hicolor/scalable/apps/tavirel.svg \
         usr/share/man/man1/tavirel.1 usr/share/man/man1/tavirel-cli.1 usr/share/man/man1/tavirel-siggen.1; do
  [ -e "$root/$f" ] || { echo "the package lacks /$f" >&2; exit 1; }
done
# Started from the unpacked root, outside the source tree.
cd "$root"
for program in tavirel tavirel-cli tavirel-siggen; do
  version=$(QT_QPA_PLATFORM=offscreen "./usr/bin/$program" --version)
  [ "$version" = "$program $(sed -n 's/^project(Tavirel VERSION \([0-9.]*\).*/\1/p' "$OLDPWD/CMakeLists.txt")" ] ||
    { echo "$program --version: '$version'" >&2; exit 1; }
  echo "$version"
done
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate usr/share/applications/tavirel.desktop
fi
echo "package: ok"
