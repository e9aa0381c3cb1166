#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs a git pre-commit hook that refuses a commit whose staged C++ sources are not
# formatted (scripts/check-format.sh --staged).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
hooks="$(git -C "$root" rev-parse --git-path hooks)"
case "$hooks" in /*) ;; *) hooks="$root/$hooks" ;; esac
mkdir -p "$hooks"
cat >"$hooks/pre-commit" <<'HOOK'
#!/usr/bin/env bash
exec "$(git rev-parse --show-toplevel)/scripts/check-format.sh" --staged
HOOK
chmod +x "$hooks/pre-commit"
echo "installed $hooks/pre-commit"
