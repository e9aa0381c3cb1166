#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs what is missing, builds, starts the gripper simulator on loopback (TCP and UDP) and
# opens the Commander. Closing the Commander stops the simulator.
#
#   scripts/run.sh                 simulator on 127.0.0.1, TCP 11000 and UDP 11500 when free
#   KARO_TCP_PORT=0 scripts/run.sh any free port (0 = let the simulator pick)
#
# On first use "tcp.cfg" and "udp.cfg" are written beside the Commander, pointing at the
# simulator; in the Commander pick "Gripper|Connect", then "Ethernet/TCP" (or "Ethernet/UDP")
# and confirm the address dialog. Files that name another host are left alone; when they name a
# loopback address, the simulator is started on the ports they name, and when it had to take
# others, the files are set to the ports it got.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${KARO_BUILD_DIR:-$root/build}"

no_display_help() {
  cat >&2 <<'EOF'
No display found (neither DISPLAY nor WAYLAND_DISPLAY is set), so the Commander's window has
nowhere to appear. Choose one of:
  * run it inside a virtual X server, for example for a smoke run or screenshots:
        xvfb-run -a -s "-screen 0 1280x900x24" scripts/run.sh
    (scripts/screenshot.sh does exactly that and captures docs/main-window.png);
  * let Qt serve the window over VNC and look at it with any VNC viewer on port 5900:
        QT_QPA_PLATFORM=vnc:size=1280x900 scripts/run.sh
  * log in with a graphical session (or ssh -X) and run scripts/run.sh again.
EOF
}
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
  no_display_help
  exit 2
fi

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target karo-commander karo-cli karo-sim

commander="$build/src/karo-commander"
sim="$build/sim/karo-sim"
cfgdir="$(dirname "$commander")"

# Reads "key=value" of an INI file, any section, without regard to case of the key.
ini_value() {
  local file="$1" key="$2"
  [[ -f "$file" ]] || return 0
  sed -n "s/^[[:space:]]*${key}[[:space:]]*=[[:space:]]*\([^[:space:]]*\).*/\1/Ip" "$file" |
    tr -d '\r' | head -n1
}
is_loopback() { [[ "$1" == "127."* || "$1" == "localhost" || "$1" == "::1" ]]; }
port_busy() { # protocol (t|u), port
  ss -Hln"$1" "sport = :$2" 2>/dev/null | grep -q .
}
free_port() { # protocol, first candidate
  local p="$2"
  while port_busy "$1" "$p"; do p=$((p + 1)); done
  echo "$p"
}

tcp_port="${KARO_TCP_PORT:-11000}"
udp_port="${KARO_UDP_PORT:-11500}"
if is_loopback "$(ini_value "$cfgdir/tcp.cfg" host)"; then
  tcp_port="$(ini_value "$cfgdir/tcp.cfg" port)"
fi
if is_loopback "$(ini_value "$cfgdir/udp.cfg" ipaddr)"; then
  udp_port="$(ini_value "$cfgdir/udp.cfg" transmit_port)"
fi
# A fixed port that is taken falls back to one the simulator picks.
if [[ "$tcp_port" != 0 ]] && port_busy t "$tcp_port"; then tcp_port=0; fi
if [[ "$udp_port" != 0 ]] && port_busy u "$udp_port"; then udp_port=0; fi

simlog="$(mktemp -t karo-sim.XXXXXX)"
"$sim" --tcp "$tcp_port" --udp "$udp_port" >"$simlog" 2>&1 &
sim_pid=$!
cleanup() {
  kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -f "$simlog"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The simulator prints one "listening <proto> <addr>:<port>" line per transport.
for _ in $(seq 100); do
  if grep -q '^listening tcp' "$simlog" && grep -q '^listening udp' "$simlog"; then break; fi
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "karo-sim did not start:" >&2
    cat "$simlog" >&2
    exit 1
  fi
  sleep 0.1
done
tcp_port="$(sed -n 's/^listening tcp .*:\([0-9]*\)$/\1/p' "$simlog" | head -n1)"
udp_port="$(sed -n 's/^listening udp .*:\([0-9]*\)$/\1/p' "$simlog" | head -n1)"
if [[ -z "$tcp_port" || -z "$udp_port" ]]; then
  echo "karo-sim did not report its ports:" >&2
  cat "$simlog" >&2
  exit 1
fi
echo "karo-sim is listening on 127.0.0.1: TCP $tcp_port, UDP $udp_port"

# Sets "key=value" in an INI file's first lines of that key, keeping every other line and each
# line's own ending; appends the key when missing.
set_ini_value() {
  local file="$1" key="$2" value="$3"
  if grep -qi "^[[:space:]]*${key}[[:space:]]*=" "$file"; then
    sed -i "0,/^[[:space:]]*${key}[[:space:]]*=/I{s/^\([[:space:]]*${key}[[:space:]]*=\)[^\r]*/\1${value}/I}" "$file"
  else
    printf '%s=%s\n' "$key" "$value" >>"$file"
  fi
}

# A loopback file points at this run's simulator, which may have got other ports than the last
# run's: otherwise the Commander would connect to another simulator left on the old ports.
if [[ ! -f "$cfgdir/tcp.cfg" ]]; then
  printf '[common]\nhost=127.0.0.1\nport=%s\n' "$tcp_port" >"$cfgdir/tcp.cfg"
  echo "wrote $cfgdir/tcp.cfg"
elif is_loopback "$(ini_value "$cfgdir/tcp.cfg" host)" &&
  [[ "$(ini_value "$cfgdir/tcp.cfg" port)" != "$tcp_port" ]]; then
  set_ini_value "$cfgdir/tcp.cfg" port "$tcp_port"
  echo "set port=$tcp_port in $cfgdir/tcp.cfg"
fi
if [[ ! -f "$cfgdir/udp.cfg" ]]; then
  listen_port="$(free_port u $((udp_port + 1)))"
  printf '[common]\nipaddr=127.0.0.1\nlistening_port=%s\ntransmit_port=%s\n' \
    "$listen_port" "$udp_port" >"$cfgdir/udp.cfg"
  echo "wrote $cfgdir/udp.cfg"
elif is_loopback "$(ini_value "$cfgdir/udp.cfg" ipaddr)" &&
  [[ "$(ini_value "$cfgdir/udp.cfg" transmit_port)" != "$udp_port" ]]; then
  set_ini_value "$cfgdir/udp.cfg" transmit_port "$udp_port"
  listen_port="$(ini_value "$cfgdir/udp.cfg" listening_port)"
  if [[ -z "$listen_port" ]] || port_busy u "$listen_port"; then
    set_ini_value "$cfgdir/udp.cfg" listening_port "$(free_port u $((udp_port + 1)))"
  fi
  echo "set transmit_port=$udp_port in $cfgdir/udp.cfg"
fi
echo 'In the Commander: "Gripper|Connect" (F2), pick "Ethernet/TCP" and confirm.'

status=0
"$commander" || status=$?
exit "$status"
