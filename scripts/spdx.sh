#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Puts the licence identifier at the head of every tracked source file that lacks it.
#   scripts/spdx.sh            adds the line (after a "#!" line, where there is one)
#   scripts/spdx.sh --check    lists the files that lack it and fails when there are any
#   scripts/spdx.sh --staged   the same check for the files staged for the next commit
# Sources: C++ (//), shell, Python and CMake (#), Lua (--).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
mode="${1:-add}"
id="SPDX-License-Identifier: Apache-2.0"
patterns=('*.cpp' '*.h' '*.c' '*.hpp' '*.sh' '*.py' '*.pyi' '*.cmake' '*CMakeLists.txt' '*.lua')

case "$mode" in
add | --check) mapfile -t files < <(git ls-files -- "${patterns[@]}") ;;
--staged) mapfile -t files < <(git diff --cached --name-only --diff-filter=ACMR -- "${patterns[@]}") ;;
*)
  echo "usage: scripts/spdx.sh [--check | --staged]" >&2
  exit 2
  ;;
esac

comment_of() {
  case "$1" in
  *.cpp | *.h | *.c | *.hpp) echo "//" ;;
  *.lua) echo "--" ;;
  *) echo "#" ;;
  esac
}

# The identifier counts within the first three lines, where a "#!" line may come first.
has_id() { # file [staged]
  if [ "${2:-}" = staged ]; then git show ":$1"; else cat -- "$1"; fi | head -n 3 | grep -qF "$id"
}

lacking=()
for f in "${files[@]}"; do
  [ -f "$f" ] || continue # deleted in the work tree
  if [ "$mode" = --staged ]; then has_id "$f" staged || lacking+=("$f"); else has_id "$f" || lacking+=("$f"); fi
done

if [ "$mode" != add ]; then
  if ((${#lacking[@]})); then
    echo "No '$id' line at the head (scripts/spdx.sh adds it):" >&2
    printf '  %s\n' "${lacking[@]}" >&2
    exit 1
  fi
  echo "spdx: ${#files[@]} sources carry the licence identifier"
  exit 0
fi

for f in "${lacking[@]}"; do
  line="$(comment_of "$f") $id"
  tmp="$(mktemp "$f.spdx.XXXXXX")"
  if head -n 1 -- "$f" | grep -q '^#!'; then
    { head -n 1 -- "$f"; echo "$line"; tail -n +2 -- "$f"; } >"$tmp"
  else
    { echo "$line"; cat -- "$f"; } >"$tmp"
  fi
  chmod --reference="$f" "$tmp"
  mv -- "$tmp" "$f"
done
echo "spdx: added the licence identifier to ${#lacking[@]} of ${#files[@]} sources"
