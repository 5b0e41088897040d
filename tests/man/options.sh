#!/usr/bin/env bash
# Every option that qk and qkdec accept is documented in their manual pages.
#
#   options.sh QK QKDEC QK_PAGE QKDEC_PAGE
#
# The options are asked of the built programs, not copied from anywhere:
#   - qk: the option lines of `qk --help` and `qk help COMMAND`, and what the
#     parser accepts when probed with every letter (-X) and with every word
#     stored in the program's read-only data (--WORD), per command;
#   - qkdec: every letter probed as -Xvalue (an unknown one is an "Illegal
#     Option!!"), and the forms of its usage line (-d alone, -dFOLDER).
# An option counts as documented when it is the tag of a paragraph (.TP): in
# qk(1) under OPTIONS for the options of every command, under the command's
# subsection of COMMANDS (its title starts "qk LETTER") for the others; in
# qkdec(1) under OPTIONS. The help must list what the parser accepts, too.
set -u
qk=$1
qkdec=$2
qk_page=$3
qkdec_page=$4
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The page's text for matching: font changes become blanks, roff's \- and \e
# the characters they print.
plain() {
    sed -e 's/\\f[BIRP]/ /g' -e 's/\\f([A-Z][A-Z]/ /g' -e 's/\\f\[[^]]*\]/ /g' \
        -e 's/\\-/-/g' -e 's/\\&//g' -e 's/\\e/\\/g' -e 's/\\(aq/'"'"'/g' "$1"
}

# "SECTION|SUBSECTION|TOKEN" for every token of every paragraph tag.
tags() {
    plain "$1" | awk '
        /^\.SH/ { sub(/^\.SH[ \t]*/, ""); gsub(/"/, ""); sh = $0; ss = ""; next }
        /^\.SS/ { sub(/^\.SS[ \t]*/, ""); gsub(/"/, ""); ss = $1 " " $2; next }
        /^\.TP/ { tag = 1; next }
        tag {
            tag = 0
            sub(/^\.[A-Z]+[ \t]*/, "")
            gsub(/"/, "")
            n = split($0, t, /[][ \t,=|()]+/)
            for (i = 1; i <= n; i++) if (t[i] != "") print sh "|" ss "|" t[i]
        }'
}

# Whether the page's text has WORD as a whole word.
mentions() {
    plain "$1" | grep -qE -- "(^|[^A-Za-z0-9_-])$2([^A-Za-z0-9_-]|$)"
}

# ---------------------------------------------------------------------------
# qk
# ---------------------------------------------------------------------------

# The left column of a help text's option lines, one option per line:
# "--charset=auto|cp932|utf-8|raw", "-q", "--quiet".
help_options() {
    sed -n 's/^  \(-[^ ].*\)$/\1/p' | sed 's/   *.*$//' | tr ',' '\n' | sed 's/^ *//'
}

general_help=$("$qk" --help) || fail "qk --help failed"
commands=$(printf '%s\n' "$general_help" |
    sed -n '/^Commands:/,/^$/s/^  \([a-z]\), \([a-z]*\) .*/\1 \2/p')
[ -n "$commands" ] || fail "no commands found in qk --help"

# The error qk gives for ARGS, or nothing when the command line was taken.
qk_error() {
    "$qk" "$@" </dev/null 2>&1 >/dev/null | head -1
}
# Whether qk takes OPTION in the place of SCOPE (a command letter, or "" for
# before the command).
accepts() {
    local scope=$1 option=$2
    ! qk_error ${scope:+"$scope"} "$option" | grep -q "unknown option"
}

# The words of the program's read-only data that could be option names or
# values (objcopy keeps the symbol table out; plain `strings` without it).
words_file=$(mktemp)
trap 'rm -f "$words_file" "$words_file".*' EXIT
if objcopy -O binary --only-section=.rodata "$qk" "$words_file.data" 2>/dev/null; then
    strings -n 2 "$words_file.data"
else
    strings -n 2 "$qk"
fi | grep -E '^[a-z][a-z0-9_-]*[a-z0-9]$' >"$words_file.ro"
# The linker may keep "password" only as the tail of "ask-password": the
# tails after each '-' are candidates too, and so are the help's long options.
{
    cat "$words_file.ro"
    sed -n 's/^[^-]*-\(.*[a-z0-9]\)$/\1/p' "$words_file.ro"
    sed -n 's/^[^-]*-[^-]*-\(.*[a-z0-9]\)$/\1/p' "$words_file.ro"
    {
        printf '%s\n' "$general_help"
        for c in $(cut -d' ' -f1 <<<"$commands"); do "$qk" help "$c"; done
    } | help_options | sed -n 's/^--\([^=]*\).*/\1/p'
} | grep -E '^[a-z][a-z0-9_-]*[a-z0-9]$' | sort -u >"$words_file"

letters=$(printf '%s\n' {a..z} {A..Z} {0..9})

# What SCOPE accepts, probed with every letter and word (once per scope).
declare -A accepted_cache
accepted_in() {
    printf '%s\n' "${accepted_cache[x$1]}"
}
probe() {
    local scope=$1 c w
    for c in $letters; do accepts "$scope" "-$c" && printf '%s\n' "-$c"; done
    while read -r w; do accepts "$scope" "--$w" && printf '%s\n' "--$w"; done <"$words_file"
}

for scope in "" $(cut -d' ' -f1 <<<"$commands"); do
    accepted_cache[x$scope]=$(probe "$scope")
done

qk_page_tags=$(tags "$qk_page")
general=$(accepted_in "" | sort -u)
general_in_help=$(printf '%s\n' "$general_help" | sed -n '/^Options of every command:/,/^$/p' |
    help_options | sed 's/=.*//' | sort -u)

check_scope() {  # SCOPE-NAME ACCEPTED HELP-LIST SECTION SUBSECTION
    local name=$1 accepted=$2 listed=$3 section=$4 subsection=$5 option
    for option in $accepted; do
        if ! grep -qxF -- "$section|$subsection|$option" <<<"$qk_page_tags"; then
            fail "$name accepts $option, but $(basename "$qk_page") has no paragraph for it" \
                "under $section${subsection:+ / $subsection}: document it there"
        fi
        grep -qxF -- "$option" <<<"$listed" || fail "$name accepts $option, but its help does not list it"
    done
    for option in $listed; do
        grep -qxF -- "$option" <<<"$accepted" || fail "the help of $name lists $option, which it refuses"
    done
}

check_scope "qk" "$general" "$general_in_help" "OPTIONS" ""

while read -r letter word; do
    [ -n "$letter" ] || continue
    help=$("$qk" help "$letter") || fail "qk help $letter failed"
    # The command's own options; those of every command are documented once.
    own=$(comm -23 <(accepted_in "$letter" | sort -u) <(printf '%s\n' "$general"))
    own_in_help=$(comm -23 <(printf '%s\n' "$help" | help_options | sed 's/=.*//' | sort -u) \
        <(printf '%s\n' "$general"))
    grep -q "^COMMANDS|qk $letter|" <<<"$(plain "$qk_page" | awk '
        /^\.SH/ { sub(/^\.SH[ \t]*/, ""); sh = $0 }
        /^\.SS/ { sub(/^\.SS[ \t]*/, ""); gsub(/"/, ""); print sh "|" $1 " " $2 "|" }')" ||
        fail "$(basename "$qk_page") has no subsection \"qk $letter\" under COMMANDS"
    mentions "$qk_page" "$word" || fail "$(basename "$qk_page") never names the command $word"
    check_scope "qk $letter" "$own" "$own_in_help" "COMMANDS" "qk $letter"
done <<<"$commands"

# ---------------------------------------------------------------------------
# qkdec
# ---------------------------------------------------------------------------

# An option letter is legal when -Xvalue is no "Illegal Option!!" (with no
# archive named, a legal option does nothing).
qkdec_letters=$(for c in $letters; do
    LC_ALL=C "$qkdec" "-${c}x" </dev/null 2>&1 | grep -q "Illegal Option" || echo "$c"
done)
[ -n "$qkdec_letters" ] || fail "qkdec accepts no option at all?"
# The usage line shows the forms: "-d" alone, "-dOutDirName" with a value.
usage=$(LC_ALL=C "$qkdec" </dev/null 2>&1 | grep -a 'usage')
forms=$(grep -oE -- '-[A-Za-z][A-Za-z]*' <<<"$usage")
qkdec_page_tags=$(tags "$qkdec_page")
qkdec_tag_lines=$(plain "$qkdec_page" | awk '/^\.SH/ { sh = $2 } /^\.TP/ { t = 1; next }
    t { t = 0; if (sh == "OPTIONS") { sub(/^\.[A-Z]+[ \t]*/, ""); gsub(/"/, ""); print } }')
for c in $qkdec_letters; do
    grep -q -- "^-$c" <<<"$forms" || fail "qkdec accepts -$c, but its usage does not show it"
    grep -qxF -- "OPTIONS||-$c" <<<"$qkdec_page_tags" ||
        fail "qkdec accepts -$c, but $(basename "$qkdec_page") has no paragraph for it under OPTIONS"
done
for form in $forms; do
    c=${form:1:1}
    grep -qx -- "$c" <<<"$qkdec_letters" || fail "qkdec's usage shows $form, which it refuses"
    if [ ${#form} -eq 2 ]; then
        pattern="^ *-$c *$"  # the option alone
    else
        pattern="^ *-$c +[^ ]"  # the option with a value
    fi
    grep -qE -- "$pattern" <<<"$qkdec_tag_lines" ||
        fail "qkdec's usage shows $form, but $(basename "$qkdec_page") has no paragraph for that form"
done

if [ "$failures" -gt 0 ]; then
    echo "$failures problem(s): the manual pages under man/ must document every option"
    exit 1
fi
echo "every option of qk and qkdec is in their manual pages"
