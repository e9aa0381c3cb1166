#!/usr/bin/env bash
# Installs what is missing, builds the normal and the sanitizer configuration, runs all tests.
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
exit $status
