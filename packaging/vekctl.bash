# bash completion for vekctl
_vekctl() {
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion || return
    else
        words=("${COMP_WORDS[@]}") cword=$COMP_CWORD cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    fi
    local cmds="info boards sensors gpio wdt bus metrics serve"
    local globals="--board --sim --json --help --version"
    local i cmd="" sub="" args=()
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --board) ((i++)) ;;
            -*) ;;
            *) if [[ -z $cmd ]]; then cmd=${words[i]}
               elif [[ -z $sub ]]; then sub=${words[i]}
               else args+=("${words[i]}"); fi ;;
        esac
    done
    if [[ $prev == --board ]]; then
        # Board names may hold spaces: one name a line, each quoted for the shell.
        local IFS=$'\n' name
        COMPREPLY=()
        for name in $(vekctl boards --names 2>/dev/null); do
            [[ $name == "$cur"* ]] && COMPREPLY+=("$(printf '%q' "$name")")
        done
        return
    fi
    local words_here=""
    case $cmd in
        "") words_here="$cmds $globals" ;;
        boards) words_here="--names --help" ;;
        sensors)
            if [[ -z $sub ]]; then words_here="fan --help"
            elif [[ $sub == fan && ${#args[@]} -eq 1 ]]; then words_here="duty auto"
            fi ;;
        gpio)
            if [[ -z $sub ]]; then words_here="get set dir --help"
            elif [[ $sub == dir && ${#args[@]} -eq 2 ]]; then words_here="in out"
            fi ;;
        wdt)
            case $sub in
                "") words_here="config trigger keepalive disable --help" ;;
                config) [[ ${#args[@]} -eq 0 ]] && words_here="seconds minutes" || words_here="--start" ;;
                keepalive) words_here="--interval --disarm-on-exit" ;;
            esac ;;
        bus)
            case $sub in
                "") words_here="detect get set dump eeprom --help" ;;
                eeprom) [[ ${#args[@]} -eq 0 ]] && words_here="read write" || words_here="--force"
                        [[ ${args[0]} == write ]] && words_here+=" -y" ;;
                set) words_here="-y --force" ;;
                get|detect|dump) words_here="-y" ;;
            esac ;;
        serve) words_here="--listen --min-interval" ;;
        *) words_here="--help" ;;
    esac
    COMPREPLY=($(compgen -W "$words_here" -- "$cur"))
}
complete -F _vekctl vekctl
