# bash completion for vekctl
_vekctl() {
    local cur prev words cword
    _init_completion || return
    local cmds="info boards sensors gpio wdt bus metrics serve"
    local globals="--board --sim --json --help"
    local i cmd="" sub=""
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --board) ((i++)) ;;
            -*) ;;
            *) if [[ -z $cmd ]]; then cmd=${words[i]}; elif [[ -z $sub ]]; then sub=${words[i]}; fi ;;
        esac
    done
    if [[ $prev == --board ]]; then
        local IFS=$'\n'
        COMPREPLY=($(compgen -W "$(vekctl boards 2>/dev/null | tail -n +2 | cut -c1-24 | sed 's/ *$//')" -- "$cur"))
        return
    fi
    case $cmd in
        "") COMPREPLY=($(compgen -W "$cmds $globals" -- "$cur")) ;;
        sensors) [[ -z $sub ]] && COMPREPLY=($(compgen -W "fan --help" -- "$cur")) ;;
        gpio) [[ -z $sub ]] && COMPREPLY=($(compgen -W "get set dir --help" -- "$cur")) ;;
        wdt) [[ -z $sub ]] && COMPREPLY=($(compgen -W "config trigger disable --help" -- "$cur"))
             [[ $sub == config ]] && COMPREPLY=($(compgen -W "seconds minutes --start" -- "$cur")) ;;
        bus) [[ -z $sub ]] && COMPREPLY=($(compgen -W "detect get set dump eeprom --help" -- "$cur"))
             [[ $sub == eeprom ]] && COMPREPLY=($(compgen -W "read write --force" -- "$cur")) ;;
        serve) COMPREPLY=($(compgen -W "--listen --min-interval" -- "$cur")) ;;
        *) COMPREPLY=($(compgen -W "--help" -- "$cur")) ;;
    esac
}
complete -F _vekctl vekctl
