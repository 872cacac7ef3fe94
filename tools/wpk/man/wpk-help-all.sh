#!/usr/bin/env bash
# The help of every wpk command in one text, laid out for help2man, which
# makes the manual page from it: `wpk --help` first (its usage lines the
# synopsis), then each command's help as a section of its own.
#   WPK=path/to/wpk wpk-help-all.sh --help | --version
set -euo pipefail
wpk=${WPK:?set WPK to the wpk to describe}
if [ "${1:-}" = --version ]; then exec "$wpk" --version; fi
commands=$("$wpk" --help | sed -n '/^commands:$/,/^$/s/^  \([a-z]*\) .*/\1/p')
"$wpk" --help | sed -n '1s/^usage:/Usage:/p'
for c in $commands; do "$wpk" "$c" --help | sed -n '1s/^usage:/  or: /p'; done
"$wpk" --help | sed -e '1d' -e 's/^commands:$/Commands:/'
for c in $commands; do
  echo
  echo "*wpk $c*"
  "$wpk" "$c" --help | sed -e '1,2d' -e '/^options:$/d'
done
