#!/usr/bin/env bash
# Every option that qk and qkdec accept is documented in their manual pages,
# and qk's help lists what its parser takes. The options are asked of the
# built programs: qk is probed before the command and after each with every
# -LETTER and --WORD of its read-only data; qkdec with every -LETTERvalue (an
# unknown one is an "Illegal Option!!"), which its usage line must show too.
# Documented means a token of a paragraph tag (.TP): in qk(1) under OPTIONS,
# or for a command's own under its subsection "qk LETTER"; in qkdec(1) under
# OPTIONS.   Usage: options.sh QK QKDEC QK_PAGE QKDEC_PAGE
set -u
qk=$1 qkdec=$2 qk_page=$3 qkdec_page=$4
failures=0
fail() { echo "FAIL: $*" && failures=$((failures + 1)); }

# "SECTION|SUBSECTION|TOKEN" for each token of each paragraph tag, font
# changes and roff escapes gone.
tags() {
    sed -e 's/\\f[BIRP]/ /g' -e 's/\\f\[[^]]*\]/ /g' -e 's/\\-/-/g' -e 's/\\&//g' "$1" | awk '
        /^\.SH/ { sh = $2; ss = ""; next }
        /^\.SS/ { gsub(/"/, ""); ss = $2 " " $3; next }
        /^\.TP/ { tag = 1; next }
        tag {
            tag = 0; sub(/^\.[A-Z]+[ \t]*/, ""); gsub(/"/, "")
            n = split($0, t, /[][ \t,=|()]+/)
            for (i = 1; i <= n; i++) if (t[i] != "") print sh "|" ss "|" t[i]
        }'
}

# qk: the left column of the help's option lines, without values.
help_options() {
    sed -n 's/^  \(-[^ ].*\)$/\1/p' | sed 's/   *.*$//' | tr ',' '\n' | sed 's/^ *//; s/=.*//'
}
general_help=$("$qk" --help) || fail "qk --help failed"
commands=$(sed -n '/^Commands:/,/^$/s/^  \([a-z]\), \([a-z]*\) .*/\1/p' <<<"$general_help")
[ -n "$commands" ] || fail "no commands in qk --help"

# Candidate long options: the words of the read-only data, their tails after
# a '-' (the linker may keep "password" only inside "ask-password"), the help's.
data=$(mktemp)
trap 'rm -f "$data"' EXIT
objcopy -O binary --only-section=.rodata "$qk" "$data" 2>/dev/null || cp "$qk" "$data"
words=$({
    strings -n 2 "$data" | sed -n 'p; s/^[^-]*-//p; s/^[^-]*-//p'
    { "$qk" --help && for c in $commands; do "$qk" help "$c"; done; } | help_options |
        sed -n 's/^--//p'
} | grep -E '^[a-z][a-z0-9_-]*[a-z0-9]$' | sort -u)

# What qk takes in SCOPE (a command letter, or "" before the command).
probe() {
    local option
    for option in $(printf -- '-%s\n' {a..z} {A..Z} {0..9}) $(printf -- '--%s\n' $words); do
        "$qk" ${1:+"$1"} "$option" </dev/null 2>&1 >/dev/null | head -1 | grep -q "unknown option" ||
            printf "%s\n" "$option"
    done
}

page=$(tags "$qk_page")
general=$(probe "" | sort)
for c in "" $commands; do
    if [ -z "$c" ]; then
        own=$general section="OPTIONS|"
        listed=$(sed -n '/^Options of every command:/,/^$/p' <<<"$general_help" | help_options)
    else
        own=$(comm -23 <(probe "$c" | sort) <(echo "$general"))
        section="COMMANDS|qk $c"
        listed=$("$qk" help "$c" | help_options | sort -u | comm -23 - <(echo "$general"))
        grep -q "^$section|" <<<"$page" || fail "qk(1) has no subsection \"qk $c\" under COMMANDS"
    fi
    for option in $own; do
        grep -qxF -- "$section|$option" <<<"$page" ||
            fail "qk ${c:-(any command)} takes $option, but qk(1) has no paragraph for it under $section"
        grep -qxF -- "$option" <<<"$listed" || fail "qk ${c:-(any command)} takes $option, unlisted in its help"
    done
    for option in $listed; do
        grep -qxF -- "$option" <<<"$own" || fail "the help of qk $c lists $option, which it refuses"
    done
done

# qkdec: with no archive named, a legal option does nothing.
forms=$(LC_ALL=C "$qkdec" </dev/null 2>&1 | grep -a usage | grep -oE -- '-[A-Za-z]+')
qkdec_page=$(tags "$qkdec_page")
for c in {a..z} {A..Z} {0..9}; do
    LC_ALL=C "$qkdec" "-${c}x" </dev/null 2>&1 | grep -q "Illegal Option" && continue
    grep -q -- "^-$c" <<<"$forms" || fail "qkdec takes -$c, but its usage does not show it"
    grep -qxF -- "OPTIONS||-$c" <<<"$qkdec_page" || fail "qkdec takes -$c, but qkdec(1) has no paragraph for it"
done

[ "$failures" -eq 0 ] || { echo "$failures problem(s): document every option in man/"; exit 1; }
echo "every option of qk and qkdec is in their manual pages"
