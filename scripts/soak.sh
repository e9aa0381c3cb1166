#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The long fault matrix: 10 000 mixed commands per link through the engine against karo-sim
# losing 5 % and corrupting 1 % of its frames, every fault scenario on every link, and 1000
# clicks through the real window (offscreen), and the command editor auto-sending every 50 ms
# for an hour with its memory sampled each minute. Prints the figures; exits non-zero when a rule
# is broken. Not part of scripts/test.sh (it runs for well over an hour).
#
#   scripts/soak.sh                       everything
#   KARO_SOAK_LINKS=tcp scripts/soak.sh   one link
#   KARO_SOAK_COMMANDS=2000 KARO_SOAK_CLICKS=200 KARO_SOAK_SEED=7 scripts/soak.sh
#   KARO_SOAK_EDITOR_MINUTES=3 scripts/soak.sh   a shorter editor run (0: none)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
links="${KARO_SOAK_LINKS:-tcp,udp,serial,can}"
commands="${KARO_SOAK_COMMANDS:-10000}"
clicks="${KARO_SOAK_CLICKS:-1000}"
seed="${KARO_SOAK_SEED:-1}"
window_links="${KARO_SOAK_WINDOW_LINKS:-tcp}"
editor_minutes="${KARO_SOAK_EDITOR_MINUTES:-60}"

if [ -z "${KARO_SOAK_NO_BUILD:-}" ]; then
  "$root/scripts/install-deps.sh"
  cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$root/build" -j "$(nproc)" --target karo-soak karo-soak-window karo-soak-editor \
    karo-sim
fi

status=0
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
# The runs mostly wait for replies and time-outs, so the links and the window run side by side;
# each prints its figures when done.
pids=()
IFS=, read -ra each <<<"$links"
for link in "${each[@]}"; do
  ( echo "== engine, $link: $commands mixed commands and every scenario (seed $seed)"
    "$root/build/tests/soak/karo-soak" --links "$link" --commands "$commands" --seed "$seed" \
      --scenarios all ) >"$out/engine-$link.txt" 2>"$out/engine-$link.err" &
  pids+=($!)
done
IFS=, read -ra each <<<"$window_links"
for link in "${each[@]}"; do
  ( echo "== window, $link: $clicks clicks (seed $seed)"
    QT_QPA_PLATFORM=offscreen "$root/build/tests/soak/karo-soak-window" --link "$link" \
      --commands "$clicks" --seed "$seed" ) >"$out/window-$link.txt" 2>"$out/window-$link.err" &
  pids+=($!)
done
if [ "$editor_minutes" -gt 0 ]; then
  ( echo "== editor: auto-send for $editor_minutes min"
    QT_QPA_PLATFORM=offscreen "$root/build/tests/soak/karo-soak-editor" \
      --minutes "$editor_minutes" ) >"$out/window-editor.txt" 2>"$out/window-editor.err" &
  pids+=($!)
fi
for pid in "${pids[@]}"; do
  wait "$pid" || status=1
done
cat "$out"/engine-*.txt "$out"/window-*.txt
[ $status -eq 0 ] && echo "== soak: all rules held" || echo "== soak: a rule was broken (see FAIL)"
exit $status
