# bash completion for ostrel

# The COM names, device paths and /dev/serial/by-id names of the ports, and files.
_ostrel_ports() {
    local ports
    ports=$(ostrel --list-ports 2>/dev/null |
        awk '{print $1; print $2; for (i = 3; i < NF; i++) if ($i == "by-id") print $(i + 1)}')
    compgen -W "$ports" -- "$1"
    compgen -f -- "$1"
}

_ostrel() {
    local cur prev
    COMPREPLY=()
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}

    case $prev in
        -m|--mode) COMPREPLY=($(compgen -W "dte dce intercede half full" -- "$cur")); return ;;
        --parity) COMPREPLY=($(compgen -W "none even odd mark space" -- "$cur")); return ;;
        --data-bits) COMPREPLY=($(compgen -W "7 8" -- "$cur")); return ;;
        --stop-bits) COMPREPLY=($(compgen -W "1 1.5 2" -- "$cur")); return ;;
        --flow) COMPREPLY=($(compgen -W "none hardware xonxoff" -- "$cur")); return ;;
        -d|--display) COMPREPLY=($(compgen -W "hex ascii off" -- "$cur")); return ;;
        --stamp) COMPREPLY=($(compgen -W "time date us" -- "$cur")); return ;;
        --eol) COMPREPLY=($(compgen -W "none cr lf crlf" -- "$cur")); return ;;
        --send-to) COMPREPLY=($(compgen -W "dte dce" -- "$cur")); return ;;
        -b|--baud) COMPREPLY=($(compgen -W "1200 2400 4800 9600 19200 38400 57600 115200 230400 460800 921600" -- "$cur")); return ;;
        --dte|--dce) COMPREPLY=($(_ostrel_ports "$cur")); return ;;
        -c|--capture) COMPREPLY=($(compgen -f -- "$cur")); return ;;
        --send|--duration|--port|--virtual) return ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "--help --version -m --mode --dte --dce -b --baud --parity --data-bits
            --stop-bits --flow -d --display --stamp -c --capture --send-to --send --send-stdin
            -i --interactive --eol --duration --port --virtual --demo -l --list-ports --json
            --headless" -- "$cur"))
    else
        # A port named without an option.
        COMPREPLY=($(_ostrel_ports "$cur"))
    fi
}
complete -F _ostrel ostrel
