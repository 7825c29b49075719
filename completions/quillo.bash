# bash completion for quillo: commands, options, settings keys and their choices.
_quillo() {
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion || return
    else
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD-1]}
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
    fi
    local global="--desktop --terminal --frames --procfs --sysfs --cgroup --help --version"
    local commands="sample snapshot processes top metrics serve record history settings autostart help"
    local keys="RefreshRate NormalColorKey WarningColorKey CriticalColorKey AlertBatteryBelow AlertMemoryAbove AlertDiskAbove Rows FileSystems Interfaces Cgroup Palette Opacity Scale Layout"

    case $prev in
        --procfs | --sysfs)
            COMPREPLY=($(compgen -d -- "$cur"))
            return
            ;;
        --png)
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
        --cgroup)
            COMPREPLY=($(compgen -W "auto host" -- "$cur"))
            return
            ;;
        --frames | --ticks | --interval | --scale | --listen | -n)
            return
            ;;
    esac

    # The command and what follows it.
    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --procfs | --sysfs | --frames | --cgroup) ((i++)) ;;
            -*) ;;
            *) command=${words[i]}; break ;;
        esac
    done
    local rest=("${words[@]:i+1:cword-i-1}")

    case $command in
        "")
            COMPREPLY=($(compgen -W "$commands $global" -- "$cur"))
            ;;
        sample)
            COMPREPLY=($(compgen -W "--interval --json --help" -- "$cur"))
            ;;
        snapshot)
            COMPREPLY=($(compgen -W "--ticks --interval --json --png --scale --help" -- "$cur"))
            ;;
        processes)
            COMPREPLY=($(compgen -W "--json --help" -- "$cur"))
            ;;
        top)
            if [ "$prev" = --by ]; then
                COMPREPLY=($(compgen -W "cpu memory" -- "$cur"))
            else
                COMPREPLY=($(compgen -W "--by -n --interval --json --by-unit --help" -- "$cur"))
            fi
            ;;
        metrics)
            COMPREPLY=($(compgen -W "--interval --help" -- "$cur"))
            ;;
        serve)
            COMPREPLY=($(compgen -W "--listen --help" -- "$cur"))
            ;;
        record)
            COMPREPLY=($(compgen -W "--interval --help" -- "$cur"))
            ;;
        history)
            COMPREPLY=($(compgen -W "processes cpu memory swap disk download upload load1 load5 load15 battery diskread diskwrite pressurecpu pressurememory pressureio temperature --since --until --json --csv --help" -- "$cur"))
            ;;
        autostart)
            [ ${#rest[@]} -eq 0 ] && COMPREPLY=($(compgen -W "enable disable status" -- "$cur"))
            ;;
        help)
            [ ${#rest[@]} -eq 0 ] && COMPREPLY=($(compgen -W "$commands" -- "$cur"))
            ;;
        settings)
            case ${#rest[@]} in
                0) COMPREPLY=($(compgen -W "path list get set unset" -- "$cur")) ;;
                1) [[ ${rest[0]} == @(get|set|unset) ]] && COMPREPLY=($(compgen -W "$keys" -- "$cur")) ;;
                2)
                    if [ "${rest[0]}" = set ]; then
                        case ${rest[1]} in
                            RefreshRate) COMPREPLY=($(compgen -W "fast normal slow verySlow" -- "$cur")) ;;
                            Palette) COMPREPLY=($(compgen -W "default colorblind" -- "$cur")) ;;
                            Layout) COMPREPLY=($(compgen -W "vertical horizontal" -- "$cur")) ;;
                            Opacity) COMPREPLY=($(compgen -W "0.6 0.8 0.9 1" -- "$cur")) ;;
                            Scale) COMPREPLY=($(compgen -W "0.75 1 1.25 1.5 2" -- "$cur")) ;;
                            Alert*) COMPREPLY=($(compgen -W "0 5 10 15 20 80 90 95" -- "$cur")) ;;
                        esac
                    fi
                    ;;
            esac
            ;;
    esac
}
complete -F _quillo quillo
