#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs what is missing, checks the formatting (and stops there when it fails), builds the
# normal configuration with GCC and the sanitizer configuration with clang (which holds the fuzz
# targets too), runs all tests in both, then runs each fuzz target over its seeds and for 20 s
# (scripts/fuzz.sh), as many at once as there are cores. Ends with the time each stage took.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
stages=()
stage_start=$SECONDS
stage_name=""
# Closes the running stage's clock and opens the next one.
stage() {
  if [ -n "$stage_name" ]; then
    stages+=("$(printf '%-40s %5d s' "$stage_name" $((SECONDS - stage_start)))")
  fi
  stage_name="$1"
  stage_start=$SECONDS
  [ -z "$1" ] || echo "== $1"
}
report() {
  stage ""
  echo
  printf '%s\n' "${stages[@]}"
  printf '%-40s %5d s\n' "total" "$SECONDS"
}
trap report EXIT

stage "install packages"
"$root/scripts/install-deps.sh"
# Cheapest first: a formatting slip stops the run before any build.
stage "format"
"$root/scripts/check-format.sh"
jobs="$(nproc)"
status=0
build_config() {
  local dir="$1"; shift
  cmake -S "$root" -B "$root/$dir" -G Ninja "$@" >/dev/null
  cmake --build "$root/$dir" -j "$jobs"
}
# The tests mostly wait (on time-outs, the simulator, the event loop): run side by side they use
# well under a core, so three per core are run at once.
test_config() {
  (cd "$root/$1" && ctest --output-on-failure -j "$((3 * jobs))" --timeout 600) || status=1
}
stage "normal build (GCC)"
build_config build -DCMAKE_BUILD_TYPE=Release
stage "normal tests"
test_config build
# With clang, so that every target (the benchmarks too) also builds with the other compiler's
# warnings as errors.
stage "sanitizer build (clang, ASan + UBSan)"
CC=clang CXX=clang++ build_config build-asan -DCMAKE_BUILD_TYPE=Debug -DKARO_SANITIZE=ON \
  -DKARO_FUZZ=ON
stage "sanitizer tests"
test_config build-asan
# The sanitizer build made the fuzz targets; a third build only for them cost minutes.
stage "fuzz targets (20 s each, one per core)"
work="$(mktemp -d)"
if "$root/scripts/fuzz.sh" -b "$root/build-asan" -t 20 -j "$jobs" -w "$work"; then
  rm -rf "$work"
else
  status=1 # the work folder stays: it holds the logs and the inputs that failed
fi
exit $status
