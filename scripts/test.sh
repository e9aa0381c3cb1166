#!/usr/bin/env bash
# Installs what is missing, builds the normal and the sanitizer configuration, runs all tests,
# then runs every fuzz target over its seeds and for 20 s (scripts/fuzz.sh, build-fuzz/).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh"
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
echo "== sanitizer build (ASan + UBSan)"
run_config build-asan -DCMAKE_BUILD_TYPE=Debug -DKARO_SANITIZE=ON -DKARO_BUILD_BENCH=OFF
echo "== fuzz targets (clang, ASan + UBSan), 20 s each"
work="$(mktemp -d)"
if "$root/scripts/fuzz.sh" -t 20 -w "$work"; then
  rm -rf "$work"
else
  status=1 # the work folder stays: it holds the logs and the inputs that failed
fi
exit $status
