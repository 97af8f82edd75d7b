# bash completion for lurko: its options, and file names for the log.

_lurko() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}

    # With '=' among the word breaks, "--notify=te" comes as "--notify" "=" "te".
    if [[ $prev == = && $COMP_CWORD -ge 2 ]]; then
        [[ ${COMP_WORDS[COMP_CWORD-2]} == --notify ]] &&
            mapfile -t COMPREPLY < <(compgen -W 'terminal desktop' -- "$cur")
        return
    fi

    case $prev in
        -m)
            mapfile -t COMPREPLY < <(compgen -c -- "$cur")
            return
            ;;
        -M)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            return
            ;;
        -p | -C)
            return
            ;;
    esac

    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W '-h -v -c -m -M -p -C -o -l -V -w -b -s -H --help --version --follow --json --status --status= --notify --notify= --on-new= --ignore= --no-mouse' -- "$cur")
        return
    fi
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}

complete -F _lurko lurko
