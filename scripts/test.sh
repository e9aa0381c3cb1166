#!/usr/bin/env bash
# Installs what is missing, checks the formatting (and stops there when it fails), builds the
# normal configuration with GCC and the sanitizer configuration with clang, runs all tests in
# both, then runs every fuzz target over its seeds and for 20 s (scripts/fuzz.sh, build-fuzz/).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh"
echo "== format"
"$root/scripts/check-format.sh"
jobs="$(nproc)"
status=0
run_config() {
  local dir="$1"; shift
  cmake -S "$root" -B "$root/$dir" -G Ninja "$@" >/dev/null
  cmake --build "$root/$dir" -j "$jobs"
  (cd "$root/$dir" && ctest --output-on-failure -j "$jobs" --timeout 600) || status=1
}
echo "== normal build"
run_config build -DCMAKE_BUILD_TYPE=RelWithDebInfo
# With clang, so that every target (the benchmarks too) also builds with the other compiler's
# warnings as errors.
echo "== sanitizer build (clang, ASan + UBSan)"
CC=clang CXX=clang++ run_config build-asan -DCMAKE_BUILD_TYPE=Debug -DKARO_SANITIZE=ON
echo "== fuzz targets (clang, ASan + UBSan), 20 s each"
work="$(mktemp -d)"
if "$root/scripts/fuzz.sh" -t 20 -w "$work"; then
  rm -rf "$work"
else
  status=1 # the work folder stays: it holds the logs and the inputs that failed
fi
exit $status
