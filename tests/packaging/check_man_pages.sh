#!/usr/bin/env bash
# check_man_pages.sh PROGRAM MAN_SOURCE [COMPLETION]: the options and
# commands PROGRAM's --help (and each command's --help) prints are exactly
# those the manual page defines, and those the bash completion offers.
# In the manual page an option is the tag of a .TP paragraph, under OPTIONS
# for the program, under a command's .SS heading for that command; each
# command's own -h/--help is the program's, documented once.
set -euo pipefail
program=$1 man=$2 completion=${3:-}

# The option names at the start of the indented lines of a help text, as
# "SCOPE OPTION" (SCOPE - for the program itself).
help_options()
{
  local scope=$1
  shift
  "$program" "$@" --help | sed -n 's/^ \{1,\}\(-[^ ,]*\(, \{0,1\}-[^ ,]*\)*\).*/\1/p' \
    | tr ',' '\n' | sed 's/ //g; s/=.*//' | sed "s/^/$scope /"
}

# The commands listed under Subcommands in the program's help.
help_commands()
{
  "$program" --help | sed -n '/^subcommands:/I,/^$/s/^ \{1,\}\([a-z][a-z-]*\).*/\1/p'
}

from_help()
{
  help_options -
  local command
  for command in $(help_commands); do
    echo "command $command"
    help_options "$command" "$command" | grep -v -e ' -h$' -e ' --help$' || true
  done
}

from_man()
{
  sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/"//g' "$man" | awk '
    /^\.SH/ { scope = ($2 == "OPTIONS") ? "-" : ""; commands = ($2 == "COMMANDS"); tag = 0; next }
    /^\.SS/ && commands { scope = $2; print "command " scope; next }
    /^\.TP/ { tag = 1; next }
    tag {
      tag = 0
      if (scope == "") next
      gsub(/,/, " ")
      for (i = 1; i <= NF; i++) {
        if ($i ~ /^\.BR?$/) continue
        if ($i !~ /^-/) break
        print scope " " $i
      }
    }'
}

from_completion()
{
  # shellcheck disable=SC1090
  bash -c 'source "$1"
    for option in $_zarnik_global_options; do echo "- $option"; done
    for command in $_zarnik_commands; do
      echo "command $command"
      for option in $(_zarnik_options "$command"); do echo "$command $option"; done
    done' check "$completion"
}

status=0
compare()
{
  local name=$1 expected=$2 found=$3
  local only_help only_other
  only_help=$(comm -23 <(sort -u <<<"$expected") <(sort -u <<<"$found"))
  only_other=$(comm -13 <(sort -u <<<"$expected") <(sort -u <<<"$found"))
  if [ -n "$only_help" ]; then
    echo "in --help but not in $name:" && sed 's/^/  /' <<<"$only_help"
    status=1
  fi
  if [ -n "$only_other" ]; then
    echo "in $name but not in --help:" && sed 's/^/  /' <<<"$only_other"
    status=1
  fi
}

helped=$(from_help)
[ -n "$helped" ] || { echo "$program --help shows no option"; exit 1; }
compare "$man" "$helped" "$(from_man)"
[ -z "$completion" ] || compare "$completion" "$helped" "$(from_completion)"
exit $status
