#!/usr/bin/env bash
# The Windows backend under wine notices a device that goes away under an open port, as the
# window and qd7-bus need to reopen it, and only then: port_loss_probe.exe holds a qd7-sim's
# pseudo-terminal through wine's serial port and must not take it for lost while it is there;
# then the simulator ends (its side of the line hangs up, which wine reports as an unplugged
# adapter: ERROR_NOT_READY), and the probe must see the port lost.
#
#   PortLossOnSim.sh QD7_SIM PROBE_EXE EMULATOR...
#
# Exits 77 (skipped) when there is no qd7-sim: build the default preset first.
set -euo pipefail
sim=$1 probe=$2
shift 2
if [ ! -x "$sim" ]; then
    echo "no qd7-sim at $sim: build the default preset first"
    exit 77
fi

work=$(mktemp -d)
sim_pid='' probe_pid=''
cleanup() {
    for pid in $probe_pid $sim_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# Waits up to 30 s (wine's first start in a session is slow) for a pattern in a file.
wait_for() {
    for _ in $(seq 1 300); do
        grep -q "$1" "$2" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

failed=0
for mode in read write; do
    "$sim" --meters 07 --link "$work/com" >"$work/sim.log" 2>&1 &
    sim_pid=$!
    for _ in $(seq 1 100); do [ -e "$work/com" ] && break; sleep 0.05; done
    # A path of wine's Z: drive, not a COM link of the prefix: the prefix links no port.
    "$@" "$probe" "Z:$work/com" "$mode" >"$work/probe.out" 2>&1 &
    probe_pid=$!
    if ! wait_for '^open' "$work/probe.out"; then
        echo "FAILED ($mode): the probe did not open the port"
        cat "$work/probe.out"
        exit 1
    fi
    kill "$sim_pid"
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=''
    rc=0
    wait "$probe_pid" || rc=$?
    probe_pid=''
    if [ "$rc" -ne 0 ] || ! grep -q '^lost' "$work/probe.out"; then
        echo "FAILED ($mode): exit $rc"
        grep -v '^0x\|^ ' "$work/probe.out" || true
        failed=1
    fi
    rm -f "$work/com"
done
exit $failed
