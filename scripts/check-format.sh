#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Fails when a C++ source is not formatted with the repository's .clang-format, or when a
# source lacks its licence identifier (scripts/spdx.sh).
#   scripts/check-format.sh            every tracked source
#   scripts/check-format.sh --staged   the sources staged for the next commit (the pre-commit hook)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
if [ "${1:-}" = "--staged" ]; then
  mapfile -t files < <(git diff --cached --name-only --diff-filter=ACMR -- '*.cpp' '*.h')
else
  mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
fi
spdx=0
if [ "${1:-}" = "--staged" ]; then
  scripts/spdx.sh --staged || spdx=1
else
  scripts/spdx.sh --check || spdx=1
fi
((${#files[@]})) || exit "$spdx"
bad=()
for f in "${files[@]}"; do
  if [ "${1:-}" = "--staged" ]; then
    # What is staged, not what the work tree holds.
    git show ":$f" | clang-format --dry-run -Werror --assume-filename="$f" >/dev/null 2>&1 || bad+=("$f")
  else
    clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || bad+=("$f")
  fi
done
if ((${#bad[@]})); then
  echo "Not formatted (clang-format -i FILE mends it):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "format: ${#files[@]} sources formatted"
exit "$spdx"
