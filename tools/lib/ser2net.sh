# Sourced by the benches that put a serial device server in front of qd7-sim: Debian's ser2net on
# a free port of 127.0.0.1, started and stopped by the script (with desktop-session.sh's `pids`
# and `work`, and `script` for its messages).

# in_tcp_table PORT_HEX [STATE_HEX]: a socket of the kernel's table uses that port (in that state:
# 0A listens).
in_tcp_table() {
    cat /proc/net/tcp /proc/net/tcp6 2>/dev/null | awk -v p="$1" -v s="${2:-}" '
        { split($2, a, ":"); if (a[2] == p && (s == "" || $4 == s)) found = 1 } END { exit !found }'
}

# start_ser2net ACCEPTER_PREFIX DEVICE: ser2net serving DEVICE at 9600 8N1 on a free port, which
# it sets in `s2n_port` (its pid in `s2n_pid`), once it listens. The prefix is "tcp," for raw TCP
# or "telnet(rfc2217),tcp," for RFC 2217.
start_ser2net() {
    command -v ser2net >/dev/null || { echo "$script: ser2net is missing (tools/setup.sh test)" >&2; exit 1; }
    local i
    s2n_port=
    for _ in $(seq 100); do
        i=$((40000 + RANDOM % 20000))
        in_tcp_table "$(printf '%04X' "$i")" || { s2n_port=$i; break; }
    done
    [ -n "$s2n_port" ] || { echo "$script: no free port" >&2; exit 1; }
    printf 'connection: &bench\n  accepter: %s127.0.0.1,%s\n  connector: serialdev,%s,9600n81,local\n' \
        "$1" "$s2n_port" "$2" >"$work/ser2net.yaml"
    ser2net -n -d -u -c "$work/ser2net.yaml" >"$work/ser2net.log" 2>&1 &
    s2n_pid=$!
    pids+=("$s2n_pid")
    for _ in $(seq 500); do
        in_tcp_table "$(printf '%04X' "$s2n_port")" 0A && return
        sleep 0.01
    done
    echo "$script: ser2net did not start:" >&2
    cat "$work/ser2net.log" >&2
    exit 1
}

# stop_ser2net: as a device server switched off; its port is free again for another listener.
stop_ser2net() {
    kill -TERM "$s2n_pid" 2>/dev/null || true
    wait "$s2n_pid" 2>/dev/null || true
}
