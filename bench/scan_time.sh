#!/usr/bin/env bash
# Times `qd7-bus scan` of the addresses 00..99 with three meters (01, 07, 12) on qd7-sim, at 9600
# and at 115200 baud, and sets each time beside the floor a real line puts under it; then, at
# 9600, the same scan through a serial device server (ser2net, raw TCP and RFC 2217) as a ratio to
# the pty's.
#
#   bench/scan_time.sh [BUILD_DIR]        (default build/default; build qd7-bus and qd7-sim first)
#
# A pseudo-terminal has no baud pacing: a request is handed over at once and a reply is back as
# soon as the simulator has written it. The silent addresses cost the same as on a real line,
# because the timeout runs from the start of the request, which holds the request's own time on
# the line. Only the three meters that answer come back sooner than on a wire; the "paced" run
# makes up for that with qd7-sim --delay set to the time their request and reply take on the
# line, so it stands for a real line with meters that answer at once.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
sim=$build/sim/qd7-sim
bus=$build/cli/qd7-bus
for program in "$sim" "$bus"; do
    [ -x "$program" ] || { echo "scan_time: $program is missing; build first" >&2; exit 1; }
done

simpid=
stop_sim() {
    if [ -n "$simpid" ]; then
        kill "$simpid" 2>/dev/null || true
        wait "$simpid" 2>/dev/null || true
        simpid=
    fi
}
trap stop_sim EXIT

# The device qd7-sim serves, from the first line it prints.
start_sim() {
    exec {simout}< <(exec "$sim" --meters 01,07,12 "$@")
    simpid=$!
    read -r -t 5 device rest <&"$simout"
}

now() { date +%s.%N; }

# on line: the 100 requests and the 3 replies; floor: that, the silent addresses' wait after
# their request (a scan asks the next address where no byte has come 30 ms after the end of the
# request: a slower meter is heard later, within its reply window), and at the end the rest of the
# last silent address's reply window (700 ms from its request), in which its late reply would
# still be heard; measured: the scan, start to end of the program.
printf '%-7s %-6s %9s %9s %9s %9s\n' speed run timeout "on line" floor measured
for speed in 9600 115200; do
    # 8N1: ten bits a character. Line times in milliseconds.
    read -r request reply timeout online floor < <(awk -v s="$speed" 'BEGIN {
        req = 35 * 10 * 1000 / s; rep = 19 * 10 * 1000 / s
        t = int((req + rep) + 0.999999) + 116 # the default timeout, as qd7-bus takes it
        online = 100 * req + 3 * rep
        printf "%.3f %.3f %d %.0f %.0f\n", req, rep, t, online, online + 97 * 30 + 700 - (req + 30)
    }')
    for run in pty paced; do
        if [ "$run" = paced ]; then
            start_sim --delay "$(awk -v a="$request" -v b="$reply" 'BEGIN { print int(a + b + 0.999999) }')"
        else
            start_sim
        fi
        t0=$(now)
        "$bus" --port "$device" --speed "$speed" scan >/dev/null
        t1=$(now)
        stop_sim
        awk -v sp="$speed" -v r="$run" -v t="$timeout" -v o="$online" -v f="$floor" -v a="$t0" \
            -v b="$t1" 'BEGIN { printf "%-7s %-6s %6d ms %7.2f s %7.2f s %7.2f s\n", sp, r, t,
                                o / 1000, f / 1000, b - a }'
    done
done

# Through a serial device server on the loopback interface: ser2net in front of the simulator's
# pty, raw TCP and RFC 2217, at 9600 baud, each beside the pty's own scan of the same run. qd7-bus
# waits its network margin longer for each reply there; the ratio is what that and the server cost.
command -v ser2net >/dev/null || { echo "scan_time: ser2net is missing (tools/setup.sh)" >&2; exit 1; }
workdir=$(mktemp -d)
s2npid=
stop_ser2net() {
    if [ -n "$s2npid" ]; then
        kill "$s2npid" 2>/dev/null || true
        wait "$s2npid" 2>/dev/null || true
        s2npid=
    fi
}
trap 'stop_ser2net; stop_sim; rm -rf "$workdir"' EXIT

# A port of 127.0.0.1 that no socket uses now, and whether one listens on it.
in_tcp_table() { cat /proc/net/tcp /proc/net/tcp6 2>/dev/null | awk -v p="$1" -v s="${2:-}" '
    { split($2, a, ":"); if (a[2] == p && (s == "" || $4 == s)) found = 1 } END { exit !found }'; }
free_port() {
    local port
    for _ in $(seq 100); do
        port=$((40000 + RANDOM % 20000))
        in_tcp_table "$(printf '%04X' "$port")" || { echo "$port"; return; }
    done
    return 1
}
start_ser2net() { # accepter prefix ("tcp," or "telnet(rfc2217),tcp,")
    port=$(free_port)
    printf 'connection: &bench\n  accepter: %s127.0.0.1,%s\n  connector: serialdev,%s,9600n81,local\n' \
        "$1" "$port" "$device" >"$workdir/ser2net.yaml"
    ser2net -n -d -u -c "$workdir/ser2net.yaml" >"$workdir/ser2net.log" 2>&1 &
    s2npid=$!
    for _ in $(seq 500); do
        in_tcp_table "$(printf '%04X' "$port")" 0A && return
        sleep 0.01
    done
    echo "scan_time: ser2net did not start:" >&2
    cat "$workdir/ser2net.log" >&2
    exit 1
}
scan_seconds() {
    local t0 t1
    t0=$(now)
    "$bus" --port "$1" scan >/dev/null
    t1=$(now)
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }'
}

echo
printf '%-7s %-30s %9s %7s\n' speed port measured ratio
start_sim
pty=$(scan_seconds "$device")
printf '%-7s %-30s %7.2f s %6.2fx\n' 9600 pty "$pty" 1
for form in tcp rfc2217; do
    if [ "$form" = tcp ]; then start_ser2net "tcp,"; else start_ser2net "telnet(rfc2217),tcp,"; fi
    took=$(scan_seconds "$form://127.0.0.1:$port")
    stop_ser2net
    awk -v f="$form://127.0.0.1 (ser2net)" -v t="$took" -v p="$pty" \
        'BEGIN { printf "%-7s %-30s %7.2f s %6.2fx\n", 9600, f, t, t / p }'
done
stop_sim
