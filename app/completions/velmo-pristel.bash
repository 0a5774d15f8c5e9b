# bash completion for velmo-pristel
_velmo_pristel() {
    local cur prev command i
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    local presets="conservative balanced broad"
    local priorities="mostPixels largestFile filedNotInbox oldest newest shallowest sharpest bestQuality eyesOpen mostSmiles"

    command=""
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
        clean | compress | history | put-back | undo) command=${COMP_WORDS[i]}; break ;;
        --) break ;;
        esac
    done

    case $command in
    clean)
        case $prev in
        --mode) COMPREPLY=($(compgen -W "exact similar series" -- "$cur")); return ;;
        --preset) COMPREPLY=($(compgen -W "$presets" -- "$cur")); return ;;
        --protect) COMPREPLY=($(compgen -d -- "$cur")); return ;;
        --lightroom | --capture-one)
            # A Lightroom catalog is a file, a Capture One catalog a folder (a package).
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
        --priorities)
            # A comma-separated list: complete the word after the last comma.
            local done=${cur%"${cur##*,}"}
            COMPREPLY=($(compgen -P "$done" -W "$priorities" -- "${cur##*,}"))
            compopt -o nospace 2>/dev/null
            return
            ;;
        esac
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "--lightroom --capture-one --library --mode --preset --protect --priorities --interactive --yes --dry-run --json --skipped --no-cache --help" -- "$cur"))
        else
            COMPREPLY=($(compgen -d -- "$cur"))
        fi
        return
        ;;
    compress)
        if [[ $prev == --library ]]; then
            # The word after --library names the library: Shotwell's own, or a photo.db.
            COMPREPLY=($(compgen -W "shotwell" -- "$cur") $(compgen -f -- "$cur"))
            return
        fi
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "--library --videos --live-photos --images --yes --dry-run --json --help" -- "$cur"))
        else
            COMPREPLY=($(compgen -d -- "$cur"))
        fi
        return
        ;;
    history)
        COMPREPLY=($(compgen -W "--json --help" -- "$cur"))
        return
        ;;
    undo)
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "--help" -- "$cur"))
        elif [[ $prev == undo ]]; then
            COMPREPLY=($(compgen -W "1 2 3 4 5 6 7 8 9" -- "$cur"))
        fi
        return
        ;;
    put-back)
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "--help" -- "$cur"))
        elif [[ $prev == put-back ]]; then
            COMPREPLY=($(compgen -W "1 2 3 4 5 6 7 8 9" -- "$cur"))
        else
            COMPREPLY=($(compgen -f -- "$cur"))
        fi
        return
        ;;
    esac

    case $prev in
    --similar | --series)
        if [[ $prev == --similar ]]; then
            COMPREPLY=($(compgen -W "$presets" -- "$cur") $(compgen -d -- "$cur"))
        else
            COMPREPLY=($(compgen -d -- "$cur"))
        fi
        return
        ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "--similar --series --exact --json --skipped --no-cache --help --version" -- "$cur"))
    elif ((COMP_CWORD == 1)); then
        COMPREPLY=($(compgen -W "clean compress history put-back undo" -- "$cur") $(compgen -d -- "$cur"))
    else
        COMPREPLY=($(compgen -d -- "$cur"))
    fi
}
complete -F _velmo_pristel velmo-pristel
