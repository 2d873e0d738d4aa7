#!/usr/bin/env bash
# qd7-bus.exe under wine against the simulated bus, through wine's serial port: COM33 is named by
# QD7_COM33 after the pseudo-terminal of a qd7-sim built for this machine (a path of wine's Z:
# drive), so the Windows serial backend opens, sets up, writes, waits for the transmitter and
# reads as on a real port. The prefix itself links no COM port, and the test refuses to run in one
# that links a port to a device of this machine.
#
#   BusExeOnSim.sh QD7_SIM WINEPREFIX QD7_BUS_EXE EMULATOR...
#
# Exits 77 (skipped) when there is no qd7-sim: build the default preset first.
set -euo pipefail
sim=$1 prefix=$2 bus=$3
shift 3
if [ ! -x "$sim" ]; then
    echo "no qd7-sim at $sim: build the default preset first"
    exit 77
fi

"$(dirname "$0")/../support/WinePrefix.sh" check "$prefix"

work=$(mktemp -d)
"$sim" --meters 01,07,12 --delay 12:250 --read-only 01 --link "$work/com" >"$work/sim.log" 2>&1 &
sim_pid=$!
cleanup() {
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 1 100); do [ -e "$work/com" ] && break; sleep 0.05; done
export QD7_COM33="Z:$work/com"

failed=0
check() { # expected-code pattern-of-stdout args...
    local code=$1 pattern=$2 out rc=0
    shift 2
    out=$("$@" 2>"$work/err") || rc=$?
    if [ "$rc" -ne "$code" ] || ! grep -Eq "$pattern" <<<"$out"; then
        echo "FAILED: ${*: -4}: exit $rc (expected $code), stdout:"
        echo "$out"
        cat "$work/err"
        failed=1
    fi
}

# Two registers of a meter present, at the default line and at 19200 with even parity.
check 0 '^[0-9T:.-]+Z,07,0,C3,-15.25,2,ok,06 02 30 37 52 44 30 43 33 ' \
    "$@" "$bus" --port COM33 --format csv read 07 C3 K1
check 0 '^07  bank 0  K1      -12.34  ok' "$@" "$bus" --port COM33 --speed 19200 --parity even read 07 K1
# A scan finds exactly the meters there; the others stay silent within their timeout.
check 0 '^01  bank 0  P0 .*ok
07  bank 0  P0 .*ok$' "$@" "$bus" --port COM33 --speed 115200 --from 00 --to 09 scan
# Meter 12 answers 250 ms after each request: waited for, it is read; past the timeout its reply
# is heard all the same, named with its delay, and taken for no later request; a scan lists it.
check 0 '^12  bank 0  P0 .*ok' "$@" "$bus" --port COM33 --timeout 400 read 12 P0
check 1 '^12  bank 0  P0 +-  silent' "$@" "$bus" --port COM33 --timeout 100 read 12 P0 P0
if ! grep -Eq '^qd7-bus: 12 answered 2[5-9][0-9] ms after its request; --timeout (300|350) waits for it' "$work/err"; then
    echo "FAILED: the late reply is not said with its delay:"
    cat "$work/err"
    failed=1
fi
check 0 '^12  bank 0  P0 .*ok' "$@" "$bus" --port COM33 --speed 115200 scan 07:12
# Writes, each read back: taken by 07, kept out by the read-only 01; 07's setup saved to a file
# and written to 12, whose changed register then reads back.
check 0 '^07  bank 0  C1       123.4  written' "$@" "$bus" --port COM33 write 07 C1 123.4
check 1 '^01  bank 0  C1       750.5  not-taken  \(wrote 123.4\)' \
    "$@" "$bus" --port COM33 write 01 C1 123.4
check 0 '^$' "$@" "$bus" --port COM33 -q backup 07 -o "Z:$work/meter07.json"
check 0 '^12  bank 0  C1       123.4  written  \(was 750.5\)' \
    "$@" "$bus" --port COM33 --timeout 400 restore "Z:$work/meter07.json" --to 12
check 0 '^12  bank 0  C1       123.4  ok' "$@" "$bus" --port COM33 --timeout 400 read 12 C1
exit $failed
