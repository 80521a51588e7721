# bash completion for ostrel

_ostrel_ports() {
    local ports
    ports=$(ostrel --list-ports 2>/dev/null | awk '{print $1; print $2}')
    compgen -W "$ports" -- "$1"
    compgen -f -- "$1"
}

_ostrel() {
    local cur prev
    COMPREPLY=()
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}

    case $prev in
        --mode) COMPREPLY=($(compgen -W "dte dce intercede half full" -- "$cur")); return ;;
        --parity) COMPREPLY=($(compgen -W "none even odd mark space" -- "$cur")); return ;;
        --data-bits) COMPREPLY=($(compgen -W "7 8" -- "$cur")); return ;;
        --stop-bits) COMPREPLY=($(compgen -W "1 1.5 2" -- "$cur")); return ;;
        --flow) COMPREPLY=($(compgen -W "none hardware xonxoff" -- "$cur")); return ;;
        --display) COMPREPLY=($(compgen -W "hex ascii off" -- "$cur")); return ;;
        --send-to) COMPREPLY=($(compgen -W "dte dce" -- "$cur")); return ;;
        --baud) COMPREPLY=($(compgen -W "1200 2400 4800 9600 19200 38400 57600 115200 230400 460800 921600" -- "$cur")); return ;;
        --dte|--dce) COMPREPLY=($(_ostrel_ports "$cur")); return ;;
        --capture) COMPREPLY=($(compgen -f -- "$cur")); return ;;
        --send|--duration|--port|--virtual) return ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "--help --version --mode --dte --dce --baud --parity --data-bits
            --stop-bits --flow --display --capture --send-to --send --send-stdin --duration --port
            --virtual --demo --list-ports --headless" -- "$cur"))
    fi
}
complete -F _ostrel ostrel
