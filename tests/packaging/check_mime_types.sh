#!/usr/bin/env bash
# check_mime_types.sh DESKTOP_ENTRY MIME_XML: the desktop entry offers the
# explorer for exactly the types the MIME XML defines, and each of those
# types is found by at least one glob (the packs carry no signature to be
# found by).
set -euo pipefail
desktop=$1 xml=$2
status=0

offered=$(sed -n 's/^MimeType=//p' "$desktop" | tr ';' '\n' | sed '/^$/d' | sort)
# type<TAB>glob for every glob, type<TAB> for a type without one.
globs=$(awk '
  match($0, /<mime-type type="[^"]*"/) { type = substr($0, RSTART + 17, RLENGTH - 18); seen = 0 }
  match($0, /<glob pattern="[^"]*"/) { print type "\t" substr($0, RSTART + 15, RLENGTH - 16); seen = 1 }
  /<\/mime-type>/ && !seen { print type "\t" }' "$xml")
defined=$(cut -f1 <<<"$globs" | sort -u)

if [ "$offered" != "$defined" ]; then
  echo "The desktop entry's MimeType and the MIME XML's types differ:"
  diff <(echo "$offered") <(echo "$defined") | grep '^[<>]' | sed 's/^</  only in the desktop entry:/; s/^>/  only in the MIME XML:/'
  status=1
fi
while IFS=$'\t' read -r type glob; do
  if [ -z "$glob" ]; then
    echo "$type has no glob"
    status=1
  fi
done <<<"$globs"
[ -n "$offered" ] || { echo "the desktop entry offers no type"; status=1; }
exit $status
