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

# Outputs are taken whole before they are searched: "grep -q" would end a pipe early.
version=$(dpkg-query -W -f='${Version}' karo-commander)
[ "$(karo-cli --version)" = "karo-cli $version" ] || fail "karo-cli --version"
out=$(karo-cli --help) || fail "karo-cli --help"
grep -q "Settings files (shared with karo-commander): $HOME/.config/karo-commander" <<<"$out" ||
  fail "karo-cli --help does not name the settings folder in ~/.config"
out=$(karo-sim --help 2>&1) || fail "karo-sim --help: $out"
grep -q -- "--serial-pty" <<<"$out" || fail "karo-sim --help: $out"
echo "karo-cli --version: $(karo-cli --version); karo-sim --help: $(wc -l <<<"$out") lines"

for page in karo-commander karo-cli karo-sim; do
  out=$(man -P cat "$page" 2>&1) || fail "man $page: $out"
  grep -q "^NAME" <<<"$out" || fail "man $page: $out"
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
    tree=$(xwininfo -root -tree)
    # The main window, not the 1x1 group leader Qt names after the application.
    if grep -Eq "\"Karo Commander[^\"]*\": .* [0-9]{3,}x[0-9]{3,}\+" <<<"$tree"; then shown=0; break; fi
    kill -0 "$app" 2>/dev/null || break
    sleep 0.5
  done
  grep -E -m1 "\"Karo Commander[^\"]*\": .* [0-9]{3,}x[0-9]{3,}\+" <<<"$(xwininfo -root -tree)"
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
