#!/usr/bin/env bash
# Builds the Debian package (karo-commander, karo-cli, karo-sim, desktop entry, icon, README,
# Wireshark dissector)
# with CPack and checks what it holds and what it depends on. Prints the package's path last.
#   KARO_PACKAGE_BUILD=build scripts/package.sh    reuses an existing build folder
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
build=${KARO_PACKAGE_BUILD:-build-package}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKARO_BUILD_TESTS=OFF \
    -DKARO_BUILD_BENCH=OFF
fi
# Only what the package holds.
cmake --build "$build" -j2 --target karo-commander karo-cli karo-sim karo-icon
rm -f "$build"/karo-commander_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/karo-commander_*.deb)

fail() {
  echo "package.sh: $*" >&2
  exit 1
}
contents=$(dpkg-deb --contents "$deb")
for path in ./usr/bin/karo-commander ./usr/bin/karo-cli ./usr/bin/karo-sim \
  ./usr/share/applications/karo-commander.desktop \
  ./usr/share/icons/hicolor/256x256/apps/karo-commander.png \
  ./usr/share/doc/karo-commander/README.md \
  "./usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/wireshark/plugins/karo.lua"; do
  grep -q " $path\$" <<<"$contents" || fail "$deb lacks $path"
done
depends=$(dpkg-deb --field "$deb" Depends)
for dep in libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 qt6-qpa-plugins; do
  grep -q "\b$dep\b" <<<"$depends" || fail "$deb does not depend on $dep (Depends: $depends)"
done
description=$(dpkg-deb --field "$deb" Description)
for link in RS232 CAN UDP TCP; do
  grep -q "\b$link\b" <<<"$description" || fail "the description does not name $link"
done
version=$(sed -n 's/^project(KaroCommander VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ "$(dpkg-deb --field "$deb" Version)" = "$version" ] || fail "the package is not version $version"

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb --extract "$deb" "$unpacked"
file -b "$unpacked/usr/share/icons/hicolor/256x256/apps/karo-commander.png" |
  grep -q '^PNG image data, 256 x 256' || fail "the icon is not a 256 x 256 PNG"
if ldd "$unpacked/usr/bin/karo-cli" | grep -E 'libQt6(Gui|Widgets)'; then
  fail "karo-cli needs a display library"
fi
[ "$("$unpacked/usr/bin/karo-cli" --version)" = "karo-cli $version" ] ||
  fail "the packaged karo-cli does not run or is not version $version"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$unpacked/usr/share/applications/karo-commander.desktop"
fi
echo "$deb"
