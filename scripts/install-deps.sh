#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs the Debian packages the build, the tests, the run and the package scripts need, when
# missing.
set -euo pipefail
packages=(cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools qt6-serialbus-dev libgl-dev
  fonts-dejavu-core ccache dpkg-dev file qt6-qpa-plugins
  xvfb xauth "$@")
# The karo Python module and its pytest suite.
packages+=(pybind11-dev python3-dev python3-pytest)
# scripts/screenshot.sh drives the window with xdotool and takes the picture with ImageMagick.
packages+=(xdotool imagemagick clang-format)
# The fuzz targets (scripts/fuzz.sh): clang with libFuzzer (its FuzzedDataProvider.h comes with
# libclang-rt, which clang only recommends); llvm for the symbolizer.
packages+=(clang libfuzzer-14-dev libclang-rt-14-dev llvm)
# glibc's symbols, so that its frames have names in a sanitizer's report and tests/lsan.supp can
# name one.
packages+=(libc6-dbg)
# lld links both builds; the build falls back to GNU ld without it.
packages+=(lld)
# The Wireshark dissector's test runs Debian's tshark.
packages+=(tshark)
# scripts/package.sh checks the package with these: lintian, appstreamcli, desktop-file-validate,
# man (groff's warnings) and bash completion.
packages+=(
  appstream
  bash-completion
  desktop-file-utils
  lintian
  man-db
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  # Without this answer wireshark-common stops to ask whether to install dumpcap setuid.
  echo "wireshark-common wireshark-common/install-setuid boolean false" |
    $sudo debconf-set-selections
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
