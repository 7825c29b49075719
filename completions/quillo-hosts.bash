# bash completion for quillo-term and quillo-panel, the panels quillo starts.
_quillo_host() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
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
        --frames | --ticks | --interval | --scale)
            return
            ;;
    esac
    local options="--procfs --sysfs --cgroup --terminal --help --version"
    if [ "${COMP_WORDS[0]##*/}" = quillo-term ]; then
        options+=" --frames"
    else
        options+=" --desktop --snapshot --ticks --interval --scale --json --png"
    fi
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
}
complete -F _quillo_host quillo-term quillo-panel
