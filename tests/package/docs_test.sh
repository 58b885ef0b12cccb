#!/usr/bin/env bash
# The manual pages and the bash completion say what the programs do: every
# command of ruvo's command table, every option of both help texts, and the
# completions of a table of command lines.
#   tests/package/docs_test.sh <source tree> <ruvo> [<ruvo-gui.exe>]
set -euo pipefail
root=$1
ruvo=$2
gui=${3:-}
pages=$root/packaging/linux
completion=$pages/ruvo.bash-completion
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# A manual page as plain words: roff's escaped minus signs as plain ones.
page_text() { sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$1"; }
ruvo_page=$(page_text "$pages/ruvo.1")
gui_page=$(page_text "$pages/ruvo-gui.1")

# ---- ruvo's command table -----------------------------------------------------
commands=$(sed -n '/kCommands\[\] = {/,/};/p' "$root/src/bin/dispatch.cpp" | grep -o '{"[^"]*"' | tr -d '{"' | sort)
[ -n "$commands" ] || fail "no command table found in src/bin/dispatch.cpp"
first_words=$(source "$completion" && COMP_WORDS=(ruvo "") && COMP_CWORD=1 && _ruvo && printf '%s\n' "${COMPREPLY[@]}" | sort)
[ "$commands" = "$first_words" ] || fail "completion of the first word: $(echo $first_words), command table: $(echo $commands)"
for word in $commands; do
  grep -qw -- "$word" <<<"$ruvo_page" || fail "ruvo.1 does not name the command $word"
done

# ---- the options of the help texts ---------------------------------------------
help_options=$("$ruvo" help | grep -o -- '--[a-z-]*' | sort -u)
completed=$(sed -n "s/.*words='\(.*\)'.*/\1/p" "$completion" | tr ' ' '\n' | sort -u)
for option in $help_options; do
  grep -qx -- "$option" <<<"$completed" || fail "the completion does not offer $option"
  grep -q -- "$option" <<<"$ruvo_page" || fail "ruvo.1 does not name $option"
done
if [ -n "$gui" ]; then
  for option in $("$gui" --help | grep -o -- '--[a-z-]*' | sort -u); do
    grep -q -- "$option" <<<"$gui_page" || fail "ruvo-gui.1 does not name $option"
  done
  for variable in $("$gui" --help | grep -o 'RUVO_[A-Z_]*' | sort -u); do
    grep -qw -- "$variable" <<<"$gui_page" || fail "ruvo-gui.1 does not name $variable"
  done
fi
for page in ruvo.1 ruvo-gui.1; do
  version=$(sed -n 's/^\.TH .*"ruvo \([0-9.]*\)".*/\1/p' "$pages/$page")
  [ "ruvo $version" = "$("$ruvo" version)" ] || fail "$page is of version '$version', ruvo is $("$ruvo" version)"
done

# ---- completions of command lines ----------------------------------------------
# Each row: the words after "ruvo" (the last one is being completed, "" for
# an empty one) | the completions offered, in order.
cases=(
  "ex|explain"
  "s|save service"
  "-|--version -V --help -h"
  "--|--version --help"
  "lookup RAG -|--json"
  "explain --|--mode --lang --no-cloud --json"
  "explain RAG --m|--mode"
  "explain RAG |"
  "explain --mode |auto term passage"
  "explain --mode p|passage"
  "explain RAG --lang |zh en"
  "explain - --json --l|--lang"
  "save |--term --fields --lang"
  "save --term |"
  "save --term RAG --fields |"
  "save --term RAG --lang |zh en"
  "health -|"
  "mcp |"
)
# shellcheck source=/dev/null
source "$completion"
for row in "${cases[@]}"; do
  line=${row%%|*}
  expected=${row#*|}
  read -ra words <<<"$line"
  if [ -z "$line" ] || [ "${line% }" != "$line" ]; then words+=(""); fi
  COMP_WORDS=(ruvo "${words[@]}")
  COMP_CWORD=${#words[@]}
  _ruvo
  got="${COMPREPLY[*]}"
  [ "$got" = "$expected" ] || fail "ruvo $line<TAB>: got '$got', expected '$expected'"
done

if [ "$failures" -gt 0 ]; then
  echo "$failures failures" >&2
  exit 1
fi
echo "manual pages and completion agree with the programs"
