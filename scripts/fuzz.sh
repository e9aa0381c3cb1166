#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the libFuzzer targets (clang, ASan + UBSan) in build-fuzz/ and runs each over its seed
# corpus, one target at a time on one core (N at a time with -j N), then prints executions,
# exec/s and findings per target. The seed corpus stays untouched: new inputs go to a work
# folder.
#
#   scripts/fuzz.sh [-t SECONDS | -r RUNS] [-j N] [-w WORKDIR] [-b BUILDDIR] [TARGET...]
#     -t  time per target (default 600)       -r  executions per target instead of a time
#     -j  run N targets at once, each on a core of its own (default 1; throughput figures
#         are measured with 1, on an otherwise idle machine)
#     -w  where new inputs, logs and crash files go (default build-fuzz/fuzz-work)
#     -b  a folder configured with KARO_FUZZ already (the test command's sanitizer build):
#         its fuzz targets are brought up to date and run; build-fuzz/ is left alone
#   TARGET: receiver payload number inifile selection engine sim (default: all)
# Exit status 1 when any target found a crash, leak, time-out or sanitizer report. Inputs that
# only ran slowly (libFuzzer's slow-unit files) are counted apart and do not fail the run.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
all=(receiver payload number inifile selection engine sim)
limit=(-max_total_time=600)
work=""
given=""
parallel=1
while getopts "t:r:j:w:b:" opt; do
  case "$opt" in
    t) limit=(-max_total_time="$OPTARG") ;;
    r) limit=(-runs="$OPTARG") ;;
    j) parallel="$OPTARG" ;;
    w) work="$OPTARG" ;;
    b) given="$(cd "$OPTARG" && pwd)" ;;
    *) sed -n '2,17p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
targets=("$@")
((${#targets[@]})) || targets=("${all[@]}")
build="${given:-$root/build-fuzz}"
work="${work:-$build/fuzz-work}"

if [ -n "$given" ]; then
  cmake --build "$build" -j "$(nproc)" --target karo_fuzz
elif [ -z "${KARO_FUZZ_NO_BUILD:-}" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKARO_FUZZ=ON -DKARO_BUILD_TESTS=OFF -DKARO_BUILD_BENCH=OFF -DKARO_WERROR=ON >/dev/null
  cmake --build "$build" -j "$(nproc)" --target karo_fuzz
fi

# One target: its row of the table goes to $work/$t.row; a finding leaves $work/$t.failed.
run_target() {
  local t="$1" exe="$build/fuzz/fuzz_$1" seeds="$root/fuzz/corpus/$1" log="$work/$1.log"
  mkdir -p "$work/$t/corpus" "$work/$t/crashes"
  # New inputs go to the first folder; the seeds are only read.
  local rc=0
  (cd "$work/$t" && nice -n 10 "$exe" "${limit[@]}" -timeout=25 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/$t/crashes/" \
    "$work/$t/corpus" "$seeds") >"$log" 2>&1 || rc=$?
  local runs secs found slow
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  secs="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)"
  found="$(find "$work/$t/crashes" -type f ! -name 'slow-unit-*' | wc -l)"
  slow="$(find "$work/$t/crashes" -type f -name 'slow-unit-*' | wc -l)"
  if [ "$rc" -ne 0 ] || [ "$found" -ne 0 ]; then
    touch "$work/$t.failed"
    # Enough to replay it where the work folder is gone (CI): the broken check, the first
    # frames and the input itself.
    echo "== fuzz_$t failed"
    grep -E "check failed|ERROR|SUMMARY|^ +#[0-9] |Test unit written|^Base64:" "$log" | head -20 || true
  elif [ "$slow" -ne 0 ]; then
    grep -E "Slowest unit|Test unit written" "$log" | tail -2 || true
  fi
  printf '%-10s %14s %10s %8s %6s\n' "$t" "${runs:-?}" "${secs:-?}" "$found" "$slow" >"$work/$t.row"
}

mkdir -p "$work"
for t in "${targets[@]}"; do
  [ -x "$build/fuzz/fuzz_$t" ] && [ -d "$root/fuzz/corpus/$t" ] || { echo "no target $t" >&2; exit 2; }
  rm -f "$work/$t.failed" "$work/$t.row"
done
running=0
for t in "${targets[@]}"; do
  if ((running >= parallel)); then
    wait -n || true # a run that broke off leaves no row; the table below tells
    running=$((running - 1))
  fi
  echo "== fuzz_$t (${limit[*]})"
  run_target "$t" &
  running=$((running + 1))
done
wait

status=0
rows=()
for t in "${targets[@]}"; do
  [ ! -e "$work/$t.failed" ] || status=1
  if [ -e "$work/$t.row" ]; then
    rows+=("$(cat "$work/$t.row")")
  else
    status=1
    rows+=("$(printf '%-10s %14s' "$t" "broke off")")
  fi
done

printf '\n%-10s %14s %10s %8s %6s\n' target executions exec/s findings slow
printf '%s\n' "${rows[@]}"
printf 'logs and crash inputs: %s\n' "$work"
exit $status
