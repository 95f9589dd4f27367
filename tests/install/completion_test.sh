#!/usr/bin/env bash
# tests/install/completion_test.sh PANSIFT_CLI COMPLETION_FILE
# The bash completion of pansift-cli knows every subcommand and option that the
# program's --help lists (found by following the subcommands down from the top, so
# a new option that the completion misses fails here), and completes as a person
# types: values of options are not taken for subcommands, file names come back
# whole whatever they hold.
set -uo pipefail
cli="$1"
# shellcheck source=/dev/null
source "$2"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The completions of the last argument, one a line: the words after pansift-cli as
# typed, the cursor at the end of the last one.
completions() {
  COMP_WORDS=(pansift-cli "$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _pansift_cli
  if [ ${#COMPREPLY[@]} -gt 0 ]; then printf '%s\n' "${COMPREPLY[@]}"; fi
}

# Every option and subcommand of one command (given by its words), then each
# subcommand in turn.
walk() {
  local help
  if ! help="$("$cli" "$@" --help)"; then
    fail "pansift-cli $* --help failed"
    return
  fi
  local options subcommands offered word
  options="$(awk '/^Options:/ { on = 1; next } /^[^ ]/ { on = 0 } on && /^  -/ { print $1 }' \
    <<<"$help" | tr ',' '\n')"
  subcommands="$(awk '/^Subcommands:/ { on = 1; next } /^[^ ]/ { on = 0 } on && /^  [a-z]/ { print $1 }' \
    <<<"$help")"
  [ -n "$options" ] || fail "pansift-cli $* --help lists no options"
  offered="$(completions "$@" -)"
  for word in $options; do
    grep -qxF -- "$word" <<<"$offered" || fail "pansift-cli $* $word is not completed"
  done
  offered="$(completions "$@" "")"
  for word in $subcommands; do
    grep -qxF -- "$word" <<<"$offered" || fail "pansift-cli $* $word is not completed"
    walk "$@" "$word"
  done
}
walk
# The walk found the commands it should have: a --help it could not read would
# leave it checking nothing.
[ "$(completions accounts "")" = $'list\nadd\nvalidate\nremove' ] ||
  fail "accounts: $(completions accounts "" | tr '\n' ' ')"

# What a person types, and what comes back (lines in any order; empty for nothing).
expect() {
  local want
  want="$(sort <<<"$1")"
  shift
  local got
  got="$(completions "$@" | sort)"
  [ "$got" = "$want" ] || fail "pansift-cli $*<TAB>: wanted [${want//$'\n'/ }], got [${got//$'\n'/ }]"
}
expect "check" ch
expect "" check ""                            # a netdisk path: nothing local to offer
expect "" check /x --depth ""                 # a number of the user's own
expect $'--delete\n--delete-interval\n--depth' check /x --de
expect "--json" tree / --j
expect "--file" accounts add --fi
expect "--yes" check /x --depth 0 --ye        # options of the program after a subcommand
# The values of options are not subcommands, whatever they say.
expect "tree" --account check tr
expect "check" --account '&amp; "x" \u0031' --data-dir /tmp ch
expect "add" --netdisk-origin accounts accounts a
expect "" accounts remove ""                  # an account name: not completed
expect "--json" --data-dir=/tmp accounts list --j

# File names come back whole: spaces, quotes, entity words, a backslash, an emoji.
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
names=("ca one.pem" "it's \"ca\".pem" "&amp;.pem" 'back\slash.pem' "😀.pem")
for name in "${names[@]}"; do : >"$dir/$name"; done
mkdir "$dir/data dir"
got="$(completions --ca-file "$dir/" | sort)"
want="$(for name in "${names[@]}" "data dir"; do echo "$dir/$name"; done | sort)"
[ "$got" = "$want" ] || fail "--ca-file: wanted [$want], got [$got]"
expect "$dir/data dir" --data-dir "$dir/"
expect "$dir/&amp;.pem" check /x --depth 0 --export-table "$dir/&"

if [ "$failures" -gt 0 ]; then
  echo "$failures failed" >&2
  exit 1
fi
echo "bash completion of pansift-cli: all passed"
