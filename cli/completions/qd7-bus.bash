# bash completion for qd7-bus                                            -*- shell-script -*-
# Commands, options and the values an option takes from a fixed set; ports from what the system
# has (serial devices and their stable names), never by opening one. The build keeps the blocks
# between "# @if FEATURE" and "# @end" of the features it has, as qd7-bus's help does.

_qd7_bus_ports()
{
    local p
    for p in /dev/serial/by-id/* /dev/ttyUSB* /dev/ttyACM* /dev/ttyS* /dev/ttyAMA*; do
        [[ -e $p ]] && printf '%s\n' "$p"
    done
    printf '%s\n' COM1 COM2 COM3 COM4 COM5 COM6 COM7 COM8 tcp:// rfc2217://
}

_qd7_bus()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD - 1]}
    local commands='scan read watch send write backup restore ports'
    local options='--port --speed --data --parity --stop --bank --timeout --reply-window
        --rts-delay-before --rts-delay-after --retries --format -q -qq --stats -v --trace --help
        --version'
    local registers='P0 C0 C1 C2 C3 K0 K1 X0 X1 Y0 Y1'

    case $prev in
    --port)
        local IFS=$'\n'
        COMPREPLY=($(compgen -W "$(_qd7_bus_ports)" -- "$cur"))
        return
        ;;
    --speed)
        COMPREPLY=($(compgen -W '1200 2400 4800 9600 14400 19200 38400 57600 115200' -- "$cur"))
        return
        ;;
    --data) COMPREPLY=($(compgen -W '7 8' -- "$cur")); return ;;
    --parity) COMPREPLY=($(compgen -W 'none odd even' -- "$cur")); return ;;
    --stop) COMPREPLY=($(compgen -W '1 2' -- "$cur")); return ;;
    --bank) COMPREPLY=($(compgen -W '0 1' -- "$cur")); return ;;
    --format) COMPREPLY=($(compgen -W 'text csv json' -- "$cur")); return ;;
    --retries) COMPREPLY=($(compgen -W '0 1 2 3' -- "$cur")); return ;;
    --timeout | --reply-window | --rts-delay-before | --rts-delay-after | --from | --to | \
        --interval | --count)
        return # a number
        ;;
    -o | --output) COMPREPLY=($(compgen -f -- "$cur")); return ;;
# @if publish
    --ca-file | --password-file | --spool)
        COMPREPLY=($(compgen -f -- "$cur"))
        return
        ;;
    --publish) COMPREPLY=($(compgen -W 'mqtt:// mqtts://' -- "$cur")); return ;;
    --queue | --inflight | --keepalive | --unit) return ;; # a number, a unit
# @end
    esac

    # The command given so far, if any; what follows it depends on it.
    local word command=
    for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
        case $word in
        scan | read | watch | send | write | backup | restore | ports) command=$word; break ;;
        esac
    done

    if [[ $cur == -* ]]; then
        case $command in
        scan) options+=' --from --to' ;;
        watch) options+=' --interval --count' ;;
        write) options+=' --dry-run' ;;
        backup) options+=' -o --output' ;;
        restore) options+=' --to --dry-run' ;;
        esac
# @if publish
        [[ $command == watch ]] && options+=' --publish --ca-file --password-file --queue --inflight
            --keepalive --spool --ha-discovery --unit'
# @end
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    case $command in
    '') COMPREPLY=($(compgen -W "$commands" -- "$cur")) ;;
    read)
        # After the addresses, the registers; a list goes on after its last comma.
        if [[ $prev != read ]]; then
            local head=
            [[ $cur == *,* ]] && head=${cur%,*},
            COMPREPLY=($(compgen -P "$head" -W "$registers" -- "${cur##*,}"))
        fi
        ;;
    write)
        # After the meters, a register and its value, again and again; P0 is not written. The
        # words after write are counted, less options and their values (a negative number is a
        # value, not an option).
        local i k=-1 after=
        for ((i = 1; i < COMP_CWORD; i++)); do
            word=${COMP_WORDS[i]}
            if [[ -z $after ]]; then
                [[ $word == write ]] && after=1
                continue
            fi
            case $word in
            -[0-9.]*) ((k++)) ;;
            -q | -qq | -v | --trace | --stats | --dry-run | --*=*) ;;
            -*) ((i++)) ;;
            *) ((k++)) ;;
            esac
        done
        ((k >= 0 && k % 2 == 0)) && COMPREPLY=($(compgen -W "${registers#P0 }" -- "$cur"))
        ;;
    restore)
        COMPREPLY=($(compgen -f -- "$cur"))
        ;;
    esac
}
complete -F _qd7_bus qd7-bus
