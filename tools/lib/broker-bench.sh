# Sourced by the benches of watch --publish (bench/publish_rate.sh, bench/publish_far.sh): a
# private mosquitto and ten simulated meters. The caller sets `script` (its name, for messages)
# and `build`, then calls begin_broker_bench.

# begin_broker_bench: a temporary folder `work`, an array `pids` (stopped and the folder removed at
# exit; the caller appends its own), mosquitto on a free `port` of 127.0.0.1 once it listens, and
# qd7-sim with `meters` on the link "$work/com1".
begin_broker_bench() {
    sim=$build/sim/qd7-sim
    bus=$build/cli/qd7-bus
    local broker
    broker=$(command -v mosquitto || echo /usr/sbin/mosquitto)
    [ -x "$broker" ] || { echo "$script: mosquitto is missing (tools/setup.sh test)" >&2; exit 1; }
    work=$(mktemp -d)
    pids=()
    trap end_broker_bench EXIT
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    printf 'listener %s 127.0.0.1\nallow_anonymous true\nuser %s\n' "$port" "$(id -un)" >"$work/m.conf"
    "$broker" -c "$work/m.conf" >"$work/broker.log" 2>&1 &
    pids+=($!)
    local _
    for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.05; done
    meters=01,02,03,04,05,06,07,08,09,10
    "$sim" --meters "$meters" --link "$work/com1" >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do [ -e "$work/com1" ] && break; sleep 0.05; done
}

end_broker_bench() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
