#!/usr/bin/env bash
# check_completion.sh COMPLETION ZARNIK: what the bash completion offers for
# a few command lines, run against the built zarnik in a folder of packs; a
# pack's names are offered as they are and never run as shell code.
set -euo pipefail
completion=$(realpath "$1") zarnik=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p mod/maps dir
touch a.upk b.vfs content.vfi notes.txt mod/maps/level1.map 'mod/$(touch ran)'
"$zarnik" create m.upk mod >/dev/null

# The completions of LINE (the cursor at its end), one a line, sorted.
complete_line()
{
  PATH=$(dirname "$zarnik"):$PATH bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"
    line=$2
    read -ra COMP_WORDS <<<"$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$line COMP_POINT=${#line}
    _zarnik zarnik "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}"' check "$completion" "$1" | sort | paste -sd' '
}

status=0
while IFS='|' read -r line expected; do
  found=$(complete_line "$line")
  if [ "$found" != "$expected" ]; then
    echo "'$line' completes to '$found', not '$expected'"
    status=1
  fi
done <<'CASES'
zarnik ex|extract
zarnik |add cat create delete diff extract grep hash info list mount rename test unmount
zarnik list --l|--long
zarnik extract m.upk --q|--quiet
zarnik info |a.upk b.vfs content.vfi dir m.upk mod
zarnik extract -C |dir mod
zarnik cat m.upk content/m|content/maps/ content/maps/level1.map
zarnik extract -C dir m.upk content/maps/l|content/maps/level1.map
zarnik extract m.upk content/maps content/$|content/$(touch ran)
zarnik cat m.upk content/maps/level1.map |
zarnik grep -i needle m|m.upk mod
zarnik grep -e needle -e x m|m.upk mod
zarnik grep needle|
zarnik hash m.upk content/maps/l|content/maps/level1.map
zarnik diff m.upk d|dir
zarnik mount m.upk |dir mod
zarnik mount --status |dir mod
zarnik unmount |dir mod
zarnik unmount --d|--discard
CASES
if [ -e ran ]; then
  echo "completing ran a command held in a name of the pack"
  status=1
fi
exit $status
