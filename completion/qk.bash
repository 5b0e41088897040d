# bash completion for qk: commands, options, archives, and for `qk x` and
# `qk p` the entry names inside the archive.
#
# The commands and options come from the program's own help (`qk --help`,
# `qk help COMMAND`), so they follow the qk that is installed. The entry
# names come from the table of `qk l`: it shows each name as `qk x` and
# `qk p` match it, under the --charset in force (the JSON of `qk l --json`
# is always UTF-8). Standard input is closed for it, so a protected archive
# never waits for a password: give -p first to complete inside one.
#
# Needs nothing from the bash-completion package.

# The left column of a help text's option lines: "-o, --output=DIR".
_qk_help_options() {
    sed -n 's/^  \(-[^ ].*\)$/\1/p' | sed 's/   *.*$//'
}

# Options that take a value, from the help: every form on a line with "=".
_qk_value_options() {
    local line
    while IFS= read -r line; do
        case $line in
        *=*) line=${line%%=*}; printf '%s\n' ${line//,/ } ;;
        esac
    done
}

# The placeholder of a value option ("DIR", "PATH", "auto|cp932|...").
_qk_value_kind() {
    local help=$1 option=$2 line
    while IFS= read -r line; do
        case " ${line//,/ }" in
        *" $option"[=\ ]* | *" $option") printf '%s\n' "${line#*=}"; return ;;
        esac
    done <<<"$help"
}

# The names of the entries of an archive; arguments: qk, options, archive.
_qk_entry_names() {
    local qk=$1
    shift
    "$qk" l "$@" 2>/dev/null </dev/null |
        sed -n 's/^ *[0-9][0-9,]*  [0-9]\{4\}-[0-9][0-9]-[0-9][0-9] [0-9:]\{8\}  //p'
}

_qk() {
    local cword=$COMP_CWORD
    local cur=${COMP_WORDS[cword]}
    local qk=${COMP_WORDS[0]}
    [ -x "$qk" ] || qk=$(command -v qk) || return 0
    COMPREPLY=()

    # "--opt=value" arrives as "--opt" "=" "value" unless '=' was taken out
    # of COMP_WORDBREAKS; look at it as one word either way.
    local option=""
    if [[ $cur == --*=* ]]; then
        option=${cur%%=*}
        cur=${cur#*=}
    elif [ "$cur" = "=" ]; then
        option=${COMP_WORDS[cword - 1]}
        cur=""
    elif [ "$cword" -ge 2 ] && [ "${COMP_WORDS[cword - 1]}" = "=" ]; then
        option=${COMP_WORDS[cword - 2]}
    fi

    # The command, the operands before the cursor, and the options that
    # change how the archive is read.
    local general help command="" word i
    general=$("$qk" --help 2>/dev/null)
    help=$general
    local values
    values=$(_qk_help_options <<<"$general" | _qk_value_options)
    local -a operands=() read_options=()
    for ((i = 1; i < cword; i++)); do
        word=${COMP_WORDS[i]}
        if [ "$word" = "=" ]; then
            continue
        elif [ "${COMP_WORDS[i + 1]}" = "=" ] && [ $((i + 2)) -lt "$cword" ]; then
            # --opt = value
            case $word in --charset | --password) read_options+=("$word=${COMP_WORDS[i + 2]}") ;; esac
            i=$((i + 2))
        elif [[ $word == -* ]]; then
            case $word in
            --charset=* | --password=* | -p?*) read_options+=("$word") ;;
            esac
            if grep -qxF -- "$word" <<<"$values" && [ $((i + 1)) -lt "$cword" ]; then
                case $word in --charset | --password | -p) read_options+=("$word" "${COMP_WORDS[i + 1]}") ;; esac
                i=$((i + 1))
            fi
        elif [ -z "$command" ]; then
            command=$word
            help=$("$qk" help "$command" 2>/dev/null)
            values=$( (_qk_help_options <<<"$general"; _qk_help_options <<<"$help") | _qk_value_options)
        else
            operands+=("$word")
        fi
    done
    # The value of an option given as the word before.
    if [ -z "$option" ] && [[ $cur != -* ]] && grep -qxF -- "${COMP_WORDS[cword - 1]}" <<<"$values"; then
        option=${COMP_WORDS[cword - 1]}
    fi

    if [ -n "$option" ]; then
        local kind
        kind=$(_qk_value_kind "$( (_qk_help_options <<<"$general"; _qk_help_options <<<"$help"))" "$option")
        case $kind in
        *"|"*) COMPREPLY=($(compgen -W "${kind//|/ }" -- "$cur")) ;;
        POLICY) COMPREPLY=($(compgen -W "ask overwrite skip rename" -- "$cur")) ;;
        DIR) compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -d -- "$cur")) ;;
        PATH) compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -f -- "$cur")) ;;
        esac
        return 0
    fi

    if [[ $cur == -* ]]; then
        local options
        options=$( (_qk_help_options <<<"$general"; [ -n "$command" ] && _qk_help_options <<<"$help") |
            tr ',' '\n' | sed -e 's/^ *//' -e 's/=.*/=/' | sort -u)
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        # "--output=" waits for its value.
        [[ ${COMPREPLY[0]-} == *= ]] && compopt -o nospace 2>/dev/null
        return 0
    fi

    if [ -z "$command" ]; then
        COMPREPLY=($(compgen -W "$(sed -n '/^Commands:/,/^$/s/^  \([a-z]\), \([a-z]*\) .*/\1 \2/p' \
            <<<"$general") help" -- "$cur"))
        return 0
    fi

    case $command in
    help)
        COMPREPLY=($(compgen -W "$(sed -n '/^Commands:/,/^$/s/^  \([a-z]\), \([a-z]*\) .*/\1 \2/p' \
            <<<"$general")" -- "$cur"))
        ;;
    l | list | t | test)
        _qk_archives
        ;;
    x | extract | p | print)
        if [ ${#operands[@]} -eq 0 ]; then
            _qk_archives
        else
            _qk_entries "$qk" "${read_options[@]}" -- "${operands[0]}"
        fi
        ;;
    a | add)
        compopt -o filenames 2>/dev/null
        if [ ${#operands[@]} -eq 0 ]; then
            _qk_archives
        else
            COMPREPLY=($(compgen -f -- "$cur"))
        fi
        ;;
    esac
    return 0
}

# Archives and self-extracting programs, and folders on the way to them.
_qk_archives() {
    compopt -o filenames 2>/dev/null
    local IFS=$'\n'
    COMPREPLY=($(compgen -f -- "$cur" | grep -iE '\.(qk1|exe)$') $(compgen -d -- "$cur"))
}

# Entry names of the archive (arguments: qk, options, -- archive) that start
# with $cur, completed up to the next folder as paths are.
_qk_entries() {
    local name rest candidate quoted
    local -A seen=()
    # The word as typed, without its opening quote and backslashes.
    local prefix=${cur#[\'\"]}
    prefix=${prefix//\\/}
    COMPREPLY=()
    while IFS= read -r name; do
        [[ $name == "$prefix"* ]] || continue
        rest=${name:${#prefix}}
        if [[ $rest == */* ]]; then
            candidate=$prefix${rest%%/*}/
        else
            candidate=$name
        fi
        [ -n "${seen[$candidate]+set}" ] && continue
        seen[$candidate]=1
        printf -v quoted '%q' "$candidate"
        COMPREPLY+=("$quoted")
    done < <(_qk_entry_names "$@")
    # A folder is completed further, not ended with a blank.
    if [ ${#COMPREPLY[@]} -eq 1 ] && [[ ${COMPREPLY[0]} == */ ]]; then
        compopt -o nospace 2>/dev/null
    fi
}

complete -F _qk qk
