# Bash completion for polyvant-convert, polyvant-info and polyvant-scan.

_polyvant_classes()
{
    # Every extension the export (or import) class names list, from --list.
    local kind=$1
    polyvant-convert --list 2>/dev/null |
        awk -v kind="$kind" '/^Import classes:/ {k="import"; next}
                             /^Export classes:/ {k="export"; next}
                             k == kind { line = $0
                                         while (match(line, /\*\.[A-Za-z0-9_-]+/)) {
                                             print substr(line, RSTART + 2, RLENGTH - 2)
                                             line = substr(line, RSTART + RLENGTH)
                                         } }' | sort -u
}

_polyvant_convert()
{
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
        --to) COMPREPLY=($(compgen -W "$(_polyvant_classes export)" -- "$cur")); return ;;
        --from) COMPREPLY=($(compgen -W "$(_polyvant_classes import)" -- "$cur")); return ;;
        -o|--output-dir|--plugin-dir) COMPREPLY=($(compgen -d -- "$cur")); return ;;
        -j|--jobs|--time-limit|--memory-limit|--option) return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "--from --to -o --output-dir -j --jobs --option --verify
            --no-clobber --time-limit --memory-limit -q --quiet --list --plugin-dir --version -h
            --help" \
            -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -f -- "$cur"))
}

_polyvant_info()
{
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
        --from) COMPREPLY=($(compgen -W "$(_polyvant_classes import)" -- "$cur")); return ;;
        --plugin-dir) COMPREPLY=($(compgen -d -- "$cur")); return ;;
        --option) return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "--json --from --option --list --plugin-dir --version -h --help" -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -f -- "$cur"))
}

_polyvant_scan()
{
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
        --plugin-dir) COMPREPLY=($(compgen -d -- "$cur")); return ;;
        --option) return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "--plugin-dir --option -h --help" -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -f -- "$cur"))
}

complete -o filenames -F _polyvant_convert polyvant-convert
complete -o filenames -F _polyvant_info polyvant-info
complete -o filenames -F _polyvant_scan polyvant-scan
