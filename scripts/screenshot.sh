#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Takes docs/main-window.png: the real Commander, connected over Ethernet/TCP to karo-sim, in a
# virtual X server. Needs Xvfb, xdotool and ImageMagick's import (Debian: xvfb xdotool
# imagemagick). Nothing of the operator's own settings is touched: the Commander runs from a
# copy in a temporary folder, with settings files of its own.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${KARO_BUILD_DIR:-$root/build}"
out="${1:-$root/docs/main-window.png}"

for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (apt-get install xvfb xdotool imagemagick)" >&2; exit 1; }
done
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j 2 --target karo-commander karo-sim

work="$(mktemp -d -t karo-shot.XXXXXX)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# A display number nobody uses.
disp=90
while [[ -e /tmp/.X11-unix/X$disp || -e /tmp/.X$disp-lock ]]; do disp=$((disp + 1)); done
Xvfb ":$disp" -screen 0 1024x900x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=":$disp"
for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

"$build/sim/karo-sim" --tcp 0 --udp 0 >"$work/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q '^listening tcp' "$work/sim.log" && break; sleep 0.1; done
tcp_port="$(sed -n 's/^listening tcp .*:\([0-9]*\)$/\1/p' "$work/sim.log" | head -n1)"
[[ -n "$tcp_port" ]] || { echo "karo-sim did not start:" >&2; cat "$work/sim.log" >&2; exit 1; }

cp "$build/src/karo-commander" "$work/"
printf '[common]\nhost=127.0.0.1\nport=%s\n' "$tcp_port" >"$work/tcp.cfg"
printf '[Common]\nMainWin=200,0,1,0,0,680,779\n' >"$work/settings.ini"
(cd "$work" && QT_QPA_PLATFORM=xcb ./karo-commander >"$work/commander.log" 2>&1) &
pids+=($!)

win="$(xdotool search --sync --name '^Karo Commander' | head -n1)"
xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus --sync "$win"
sleep 1
# Gripper|Connect, pick Ethernet/TCP, confirm the host dialog.
xdotool key --window "$win" F2
dlg="$(xdotool search --sync --name '^Select an Interface$' | head -n1)"
sleep 0.5
xdotool windowfocus --sync "$dlg"
xdotool type --delay 50 'Ethernet/TCP'
xdotool key Return
sleep 1
xdotool key Return
# Let the initialization finish and a few automatic updates arrive, then home the fingers and
# move them, so the results text has lines.
sleep 3
xdotool windowfocus --sync "$win"
xdotool key alt+c
sleep 0.5
xdotool key h
sleep 4
xdotool key alt+m
sleep 3
mkdir -p "$(dirname "$out")"
import -window "$win" "$out"
echo "wrote $out"
