#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the Debian package (karo-commander, karo-cli, karo-sim, desktop entry, icon, manual
# pages, completion, AppStream metadata, README, copyright) with CPack, checks what it holds,
# what it depends on and what lintian, desktop-file-validate and appstreamcli say, then installs
# it on a fresh Debian 12 when ../shared/tools/fresh-debian is there. Prints the package's path
# last.
#   KARO_PACKAGE_BUILD=build scripts/package.sh    reuses an existing build folder
#   KARO_FRESH_INSTALL=0 scripts/package.sh        skips the installation on a fresh system
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
build=${KARO_PACKAGE_BUILD:-build-package}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKARO_BUILD_TESTS=OFF \
    -DKARO_BUILD_BENCH=OFF
fi
# Without tests and benchmarks, everything the configuration builds is what the package holds
# (the Python module included, where pybind11 is installed).
cmake --build "$build" -j2
rm -f "$build"/karo-commander_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/karo-commander_*.deb)

fail() {
  echo "package.sh: $*" >&2
  exit 1
}
contents=$(dpkg-deb --contents "$deb")
metainfo=./usr/share/metainfo/org.karo_commander.KaroCommander.metainfo.xml
for path in ./usr/bin/karo-commander ./usr/bin/karo-cli ./usr/bin/karo-sim \
  ./usr/share/applications/karo-commander.desktop \
  ./usr/share/icons/hicolor/256x256/apps/karo-commander.png \
  ./usr/share/doc/karo-commander/README.md ./usr/share/doc/karo-commander/copyright \
  ./usr/share/doc/karo-commander/changelog.gz ./usr/share/man/man1/karo-commander.1.gz \
  ./usr/share/man/man1/karo-cli.1.gz ./usr/share/man/man1/karo-sim.1.gz \
  ./usr/share/bash-completion/completions/karo-cli "$metainfo"; do
  grep -q " $path\$" <<<"$contents" || fail "$deb lacks $path"
done
# The parts other folders add, once the tree has them.
if [ -d src/python ]; then
  grep -Eq ' \./usr/lib/python3/dist-packages/karo[^/]*\.so$' <<<"$contents" ||
    fail "$deb lacks the Python module (usr/lib/python3/dist-packages/karo*.so)"
fi
if [ -f tools/wireshark/karo.lua ]; then
  grep -Eq ' \./usr/.*/wireshark/.*karo\.lua$' <<<"$contents" ||
    fail "$deb lacks the Wireshark dissector karo.lua"
fi
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
desktop-file-validate "$unpacked/usr/share/applications/karo-commander.desktop" ||
  fail "desktop-file-validate"
appstreamcli validate --no-net "$unpacked/${metainfo#./}" >/dev/null || fail "appstreamcli validate"
for page in karo-commander karo-cli karo-sim; do
  # groff's warnings (bad requests, unknown escapes) make the page fail.
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$unpacked/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man $page: $warnings"
done
scripts/check-completion.sh "$unpacked/usr/share/bash-completion/completions/karo-cli" >/dev/null ||
  fail "the bash completion"
# Errors fail the package; warnings are listed.
lintian_rc=0
lintian_out=$(lintian --tag-display-limit 0 "$deb" 2>/dev/null) || lintian_rc=$?
[ -z "$lintian_out" ] || echo "$lintian_out" >&2
if grep -q '^E: ' <<<"$lintian_out"; then fail "lintian reports errors"; fi
((lintian_rc == 0)) || fail "lintian did not run (exit $lintian_rc)"
echo "package checks: contents, dependencies, desktop entry, AppStream, manual pages," \
  "completion, lintian ($(grep -c '^W: ' <<<"$lintian_out" || true) warnings): passed" >&2

fresh=../shared/tools/fresh-debian
if [ "${KARO_FRESH_INSTALL:-1}" != 0 ] && [ -x "$fresh" ] && [ "$(id -u)" -eq 0 ]; then
  # The fresh system sees the host's /dev, so the package travels through /dev/shm.
  shelf=$(mktemp -d /dev/shm/karo-package.XXXXXX)
  trap 'rm -rf "$unpacked" "$shelf"' EXIT
  cp "$deb" "$shelf/"
  "$fresh" ./scripts/check-installed.sh "$shelf" || fail "the installation on a fresh system failed"
fi
echo "$deb"
