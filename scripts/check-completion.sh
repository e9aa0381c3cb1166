#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Checks that bash completes karo-cli's options, target schemes and commands.
#   scripts/check-completion.sh [FILE]   FILE: the completion script; without it the one that
#                                        bash-completion loads for karo-cli on this system
set -uo pipefail
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion || exit 1
if (($#)); then
  # shellcheck disable=SC1090
  source "$1" || exit 1
else
  _completion_loader karo-cli
fi
complete -p karo-cli >/dev/null 2>&1 || {
  echo "check-completion: nothing completes karo-cli" >&2
  exit 1
}
compopt() { :; } # only valid while bash itself is completing

# The words of a command line as readline splits them (":" breaks words) and what they offer.
offers() { # expected... -- words...
  local expected=() line
  while [[ $1 != -- ]]; do expected+=("$1"); shift; done
  shift
  line="$*"
  COMP_LINE="$line" COMP_POINT=${#line}
  read -ra COMP_WORDS <<<"$(sed 's/:/ : /g; s/ *$//' <<<"$line")"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  local fn
  fn=$(complete -p karo-cli | sed -n 's/.*-F \([^ ]*\).*/\1/p')
  "$fn" karo-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]:-}"
  local e
  for e in "${expected[@]}"; do
    printf '%s\n' "${COMPREPLY[@]}" | grep -qxF -- "$e" || {
      echo "check-completion: '$line' does not offer '$e' (offers: ${COMPREPLY[*]})" >&2
      return 1
    }
  done
}

ok=0
offers tcp:// udp:// serial: can: -- "karo-cli " || ok=1
offers --json --timeout -- "karo-cli --" || ok=1
offers info state move grasp monitor send -- "karo-cli tcp://127.0.0.1:11000 " || ok=1
offers get-force get-acc -- "karo-cli --json can:19 get-" || ok=1
offers COM1 -- "karo-cli serial:CO" || ok=1
((ok == 0)) && echo "completion: karo-cli completes its options, targets and commands"
exit "$ok"
