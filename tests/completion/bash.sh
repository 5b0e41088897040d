#!/usr/bin/env bash
# The bash completion of qk, called as bash calls it: COMP_WORDS and
# COMP_CWORD set, _qk run, COMPREPLY compared.   bash.sh COMPLETION QK SAMPLE
set -u
completion=$(realpath "$1")
qk=$(realpath "$2")
sample=$(realpath "$3")
export LC_ALL=C.UTF-8
# shellcheck source=/dev/null
source "$completion"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir out && cp "$sample" sample.qk1 && : >notes.txt && : >'two words.txt' || exit 1
"$qk" a -q spaced.qk1 'two words.txt' && "$qk" a -q -p secret locked.qk1 notes.txt || exit 1

failures=0
# Each case: the words after "qk" (the last one is being completed, "|" between
# words), then every completion expected, exactly, sorted, "|" between them.
cases=(
    # commands, long and short
    "e::extract"
    "::a|add|extract|help|l|list|p|print|t|test|x"
    "help|t::t|test"
    # options: the command's own and those of every command; values
    "x|--ov::--overwrite"
    "a|--sfx::--sfx|--sfx-program="
    "x|-::--charset=|--existing=|--help|--keep-both|--output=|--overwrite|--password=|--quiet|--skip|--version|-f|-h|-k|-n|-o|-p|-q"
    "l|--j::--json"
    "t|--j::"
    "--charset=u::utf-8"
    "--charset|=|c::cp932"
    "x|--existing|r::rename"
    "x|-o|o::out"
    # archives, then the entries inside (folders completed up to their /)
    "t|samp::sample.qk1"
    "x|sample.qk1|::data/|はじめに.txt|ソース/|文書/|画像/"
    "x|sample.qk1|文書/議事録/空::文書/議事録/空のメモ.txt"
    "p|sample.qk1|data/table.csv|ソ::ソース/"
    "x|-o|out|-f|sample.qk1|画::画像/"
    "x|--output|=|out|sample.qk1|d::data/"
    "x|spaced.qk1|two::two\\ words.txt"
    # a protected archive shows its names only with its password
    "x|locked.qk1|n::"
    "x|-psecret|locked.qk1|n::notes.txt"
    "x|-p|secret|locked.qk1|n::notes.txt"
    # l and t take archives, not entry names
    "l|sample.qk1|d::"
)
for case in "${cases[@]}"; do
    words=${case%%::*}
    expected=${case#*::}
    mapfile -t typed < <(tr '|' '\n' <<<"$words")
    COMP_WORDS=("$qk" "${typed[@]}")
    COMP_CWORD=${#typed[@]}
    COMPREPLY=()
    _qk
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | paste -sd '|')
    want=$(tr '|' '\n' <<<"$expected" | sed '/^$/d' | sort | paste -sd '|')
    [ "$got" = "$want" ] || { echo "FAIL: qk ${typed[*]}<TAB>: got [$got], want [$want]" && failures=$((failures + 1)); }
done
[ "$failures" -eq 0 ] && echo "${#cases[@]} completions as expected"
