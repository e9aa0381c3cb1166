#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the benchmarks (optimised build), runs each once on this machine and prints one table;
# every figure is a ratio of two measurements taken in this run. Each program's own output
# goes to build/bench-logs/. Usage: scripts/bench.sh [--no-build]
# KARO_CLI_BEFORE=/path/to/karo-cli adds rows for another karo-cli build (an older one, for a
# before/after pair from one run).
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build"
logs="$build/bench-logs"
if [ "${1:-}" != "--no-build" ]; then
  "$root/scripts/install-deps.sh" || exit 1
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKARO_BUILD_BENCH=ON \
    >/dev/null || exit 1
  python_bench=""
  grep -q '^KARO_BUILD_PYTHON:BOOL=ON' "$build/CMakeCache.txt" && python_bench=bench_python
  cmake --build "$build" -j "$(nproc)" --target karo-sim karo-commander bench_receiver \
    bench_roundtrip bench_wait bench_window bench_commlog bench_firstpaint bench_cli bench_flood \
    $python_bench || exit 1
fi
mkdir -p "$logs"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"

declare -A fig
failed=()
# Runs one program (never longer than 10 minutes) and keeps its "figure NAME VALUE UNIT" lines.
run() {
  local name=$1
  echo "running $name ..." >&2
  if ! timeout 600 "$build/bench/$name" >"$logs/$name.txt" 2>"$logs/$name.err"; then
    failed+=("$name")
  fi
  while read -r _ key value _; do
    fig[$key]=$value
  done < <(grep '^figure ' "$logs/$name.txt")
}
run bench_receiver
run bench_roundtrip
run bench_wait
run bench_window
run bench_firstpaint
run bench_commlog
run bench_cli
# Only where the Python module is built.
[ -x "$build/bench/bench_python" ] && run bench_python
run bench_flood

# The command log benchmark prints prose; its figures are read from its lines.
commlog="$logs/bench_commlog.txt"
section_value() { # SECTION-START-PATTERN LINE-PATTERN AWK-PROGRAM
  awk -v start="$1" -v line="$2" "\$0 ~ start {on=1} on && \$0 ~ line {$3; exit}" "$commlog"
}
for window in hidden visible; do
  for stamps in off on; do
    fig[log_${window}_${stamps}_first_us]=$(section_value "^$window window, time stamps $stamps" \
      'append:' 'for (i = 1; i <= NF; i++) if ($i == "first") {print $(i+2); break}')
    fig[log_${window}_${stamps}_last_us]=$(section_value "^$window window, time stamps $stamps" \
      'append:' 'for (i = 1; i <= NF; i++) if ($i == "last") {print $(i+2); break}')
  done
done
# The re-render is lazy: the option change plus the event pass that shows its result.
fig[log_render_ms]=$(section_value '^visible window' 're-render \\(descriptors on\\)' \
  'for (i = 1; i < NF; i++) if ($(i+1) ~ /^ms/) s += $i; print s')
fig[log_entries]=$(section_value '^visible window' '^visible window' \
  'for (i = 1; i <= NF; i++) if ($i == "entries") {gsub(",", "", $(i-1)); print $(i-1); break}')
fig[log_bytes]=$(section_value '^memory' 'bytes per entry' \
  'for (i = 1; i <= NF; i++) if ($i == "bytes" && $(i+1) == "per") {print $(i-1); break}')

get() { echo "${fig[$1]:-}"; }
ratio() { # A B: A / B with two decimals, or n/a
  awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b + 0 == 0) print "n/a"; else printf "%.2f", a / b }'
}
num() { # VALUE FORMAT
  awk -v v="$1" -v f="$2" 'BEGIN { if (v == "") print "n/a"; else printf f, v }'
}
pct() { awk -v v="$1" 'BEGIN { if (v == "") print "n/a"; else printf "%.1f %%", 100 * v }'; }

cpu="$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
echo
echo "Karo Commander benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $cpu, platform $QT_QPA_PLATFORM"
echo
echo "| Figure | Measured | Ratio |"
echo "| --- | --- | --- |"
echo "| Command round trip over TCP to karo-sim: engine / bare blocking client (median) | $(num "$(get roundtrip_engine_us)" '%.0f') µs / $(num "$(get roundtrip_bare_us)" '%.0f') µs | $(ratio "$(get roundtrip_engine_us)" "$(get roundtrip_bare_us)") |"
for cmd in info state; do
  echo "| \`karo-cli tcp://... $cmd\` as a process / bare one-shot client (GET_SYSINFO), wall time, median of 41 | $(num "$(get cli_${cmd}_ms)" '%.1f') ms / $(num "$(get cli_bare_ms)" '%.1f') ms | $(ratio "$(get cli_${cmd}_ms)" "$(get cli_bare_ms)") |"
  if [ -n "$(get cli_before_${cmd}_ms)" ]; then
    echo "| The same, karo-cli before (\$KARO_CLI_BEFORE) / bare one-shot client | $(num "$(get cli_before_${cmd}_ms)" '%.1f') ms / $(num "$(get cli_bare_ms)" '%.1f') ms | $(ratio "$(get cli_before_${cmd}_ms)" "$(get cli_bare_ms)") |"
  fi
done
echo "| Query round trip over TCP to karo-sim: Python (karo module) / C++ engine (median) | $(num "$(get python_roundtrip_us)" '%.0f') µs / $(num "$(get python_engine_roundtrip_us)" '%.0f') µs | $(ratio "$(get python_roundtrip_us)" "$(get python_engine_roundtrip_us)") |"
echo "| CPU of a 3 s wait for a silent gripper (--silent-ids): CPU / wall | $(num "$(get wait_cpu_ms)" '%.1f') ms / $(num "$(get wait_wall_ms)" '%.0f') ms | $(pct "$(get wait_cpu_share)") of one core |"
echo "| CPU of the window connected to a moving gripper: CPU / wall | $(num "$(get window_cpu_ms)" '%.0f') ms / $(num "$(get window_wall_ms)" '%.0f') ms | $(pct "$(get window_cpu_share)") of one core |"
for window in hidden visible; do
  for stamps in off on; do
    first=$(get log_${window}_${stamps}_first_us)
    last=$(get log_${window}_${stamps}_last_us)
    echo "| Command log append, $window window, time stamps $stamps, entry 200 000 / entry 1 (µs per entry, blocks of 1000) | $(num "$last" '%.1f') µs / $(num "$first" '%.1f') µs | $(ratio "$last" "$first") |"
  done
done
render_us=$(awk -v ms="$(get log_render_ms)" -v n="$(get log_entries)" 'BEGIN { if (ms == "" || n == "" || n + 0 == 0) print ""; else print ms * 1000 / n }')
echo "| Command log re-render after an option change, visible window, incl. its event pass: time / entries | $(num "$(get log_render_ms)" '%.0f') ms / $(num "$(get log_entries)" '%.0f') | $(num "$render_us" '%.2f') µs per entry |"
echo "| Command log heap when full: bytes / entries | | $(num "$(get log_bytes)" '%.1f') bytes per entry |"
for kind in updates long; do
  case $kind in
  updates) what="update frames (3-6 byte payloads)" ;;
  long) what="long frames (1-4 KiB payloads)" ;;
  esac
  bare=$(get receiver_${kind}_bare_mbs)
  echo "| Receiver, $what, byte by byte (before): bare checksum / receiver | $(num "$bare" '%.0f') MB/s / $(num "$(get receiver_${kind}_perbyte_mbs)" '%.0f') MB/s | $(ratio "$bare" "$(get receiver_${kind}_perbyte_mbs)") |"
  echo "| Receiver, $what, per read (after): bare checksum / receiver | $(num "$bare" '%.0f') MB/s / $(num "$(get receiver_${kind}_bulk_mbs)" '%.0f') MB/s | $(ratio "$bare" "$(get receiver_${kind}_bulk_mbs)") |"
done
echo "| Block checksum (slicing-by-8) / bare checksum (table, byte at a time) | $(num "$(get receiver_long_block_mbs)" '%.0f') MB/s / $(num "$(get receiver_long_bare_mbs)" '%.0f') MB/s | $(ratio "$(get receiver_long_block_mbs)" "$(get receiver_long_bare_mbs)") |"
for link in tcp udp serial can; do
  f="flood_${link}"
  echo "| Stop during a flood of updates over $link (--flood-updates), window connected: longest exchange, flooded / calm | $(num "$(get ${f}_flooded_stop_max_ms)" '%.1f') ms / $(num "$(get ${f}_calm_stop_max_ms)" '%.1f') ms | $(ratio "$(get ${f}_flooded_stop_max_ms)" "$(get ${f}_calm_stop_max_ms)") |"
  echo "| Event loop during the $link flood: longest delay of a posted call (a key press waits as long), flooded / calm | $(num "$(get ${f}_flooded_loop_max_ms)" '%.1f') ms / $(num "$(get ${f}_calm_loop_max_ms)" '%.2f') ms | $(ratio "$(get ${f}_flooded_loop_max_ms)" "$(get ${f}_calm_loop_max_ms)") |"
  echo "| Resident memory of the window's process, $link flooded / calm | $(num "$(get ${f}_flooded_peak_mb)" '%.1f') MB / $(num "$(get ${f}_calm_peak_mb)" '%.1f') MB | $(ratio "$(get ${f}_flooded_peak_mb)" "$(get ${f}_calm_peak_mb)") |"
  echo "| $link flood: packets per second received / dropped by the full queue in the run | $(num "$(get ${f}_flooded_packets_per_s)" '%.0f') / $(num "$(get ${f}_flooded_dropped)" '%.0f') | |"
done
echo "| Start to first painted window: karo-commander / bare Qt window (median of 7) | $(num "$(get firstpaint_commander_ms)" '%.0f') ms / $(num "$(get firstpaint_bare_ms)" '%.0f') ms | $(ratio "$(get firstpaint_commander_ms)" "$(get firstpaint_bare_ms)") |"
echo
if ((${#failed[@]})); then
  echo "FAILED: ${failed[*]} (see $logs)" >&2
  exit 1
fi
