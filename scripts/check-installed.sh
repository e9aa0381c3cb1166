#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs the package on this system with apt and checks it as a user would meet it: every
# program starts, the Commander shows its window, the manual pages and the completion work.
# scripts/package.sh runs it on a fresh Debian 12 (../shared/tools/fresh-debian).
#   scripts/check-installed.sh DIR [WAIT]   DIR holds karo-commander_*.deb; WAIT: seconds to
#                                           wait for it to appear there after the check tools
#                                           are installed (default 0)
set -euo pipefail
project="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dir="${1:?usage: scripts/check-installed.sh DIR [WAIT]}"
wait_s="${2:-0}"
fail() {
  echo "check-installed: $*" >&2
  exit 1
}
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# What the checks use (not what the package needs: apt finds that itself).
$sudo apt-get install -y -qq --no-install-recommends man-db bash-completion xvfb xauth \
  x11-utils >/dev/null
cd "$dir"
for ((waited = 0; waited < wait_s; waited += 5)); do
  compgen -G "karo-commander_*.deb" >/dev/null && [ ! -e building ] && break
  sleep 5
done
deb=$(ls karo-commander_*.deb)
$sudo apt-get install -y -qq "./$deb" >/dev/null
echo "installed $deb"

version=$(dpkg-query -W -f='${Version}' karo-commander)
[ "$(karo-cli --version)" = "karo-cli $version" ] || fail "karo-cli --version"
karo-cli --help | grep -q "Settings files (shared with karo-commander): $HOME/.config/karo-commander" ||
  fail "karo-cli --help does not name the settings folder in ~/.config"
karo-sim --help | grep -q -- "--serial-pty" || fail "karo-sim --help"
echo "karo-cli --version: $(karo-cli --version); karo-sim --help: $(karo-sim --help | wc -l) lines"

for page in karo-commander karo-cli karo-sim; do
  man -P cat "$page" 2>/dev/null | grep -q "^NAME" || fail "man $page"
done
echo "man karo-commander, man karo-cli, man karo-sim: shown"

"$project/scripts/check-completion.sh"

# The window, found by its title in a virtual X server; the simulator beside it, as in use.
xvfb-run -a -s "-screen 0 1280x900x24" bash -c '
  karo-sim --tcp 0 >/dev/null 2>&1 &
  sim=$!
  karo-commander >/tmp/karo-commander.log 2>&1 &
  app=$!
  shown=1
  for _ in $(seq 120); do
    if xwininfo -root -tree | grep -q "\"Karo Commander"; then shown=0; break; fi
    kill -0 "$app" 2>/dev/null || break
    sleep 0.5
  done
  xwininfo -root -tree | grep "\"Karo Commander" | head -n 1
  kill "$app" "$sim" 2>/dev/null
  wait 2>/dev/null
  exit "$shown"' || { cat /tmp/karo-commander.log >&2; fail "the Commander showed no window"; }
echo "karo-commander: its window appeared under xvfb-run"

# What other parts of the project install, once the tree has them.
if dpkg -L karo-commander | grep -q '/python3/dist-packages/karo'; then
  python3 -c 'import karo' || fail "the Python module does not import"
  echo "python3: import karo works"
fi
if lua=$(dpkg -L karo-commander | grep -m1 'wireshark/.*karo\.lua$'); then
  [ -s "$lua" ] || fail "the Wireshark dissector $lua is empty"
  echo "wireshark dissector: $lua"
fi
echo "check-installed: all checks passed"
