#!/usr/bin/env bash
# qd7-bus.exe under wine on a network port: the simulated bus of a qd7-sim built for this machine
# listens on 127.0.0.1 (its own raw TCP port), and the Windows build reaches it through winsock:
# name lookup, a bounded connection, reads that never wait, a refused connection said as such.
#
#   BusExeOnNetwork.sh QD7_SIM WINEPREFIX QD7_BUS_EXE EMULATOR...
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
exec {simout}< <(exec "$sim" --meters 01,07 --listen tcp://127.0.0.1:0 2>"$work/sim.log")
sim_pid=$!
cleanup() {
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
read -r -t 10 url <&"$simout"
port=${url##*:}

failed=0
check() { # expected-code pattern-of-stdout pattern-of-stderr (empty: nothing) args...
    local code=$1 pattern=$2 errpattern=$3 out rc=0 errok=1
    shift 3
    out=$("$@" 2>"$work/err") || rc=$?
    if [ -z "$errpattern" ]; then
        [ ! -s "$work/err" ] || errok=0
    else
        grep -Eq "$errpattern" "$work/err" || errok=0
    fi
    if [ "$rc" -ne "$code" ] || ! grep -Eq "$pattern" <<<"$out" || [ "$errok" = 0 ]; then
        echo "FAILED: ${*: -4}: exit $rc (expected $code), stdout:"
        echo "$out"
        cat "$work/err"
        failed=1
    fi
}

# A scan finds the meters there; a read by the host's name. (Lines end in CR LF on Windows.)
check 0 '^07  bank 0  P0 .*ok' '' "$@" "$bus" --port "tcp://127.0.0.1:$port" --to 09 scan
check 0 '^07  bank 0  C3      -15.25  ok' '' "$@" "$bus" --port "tcp://localhost:$port" read 07 C3
# Nothing listens once the simulator has gone: the reason, exit 3.
kill "$sim_pid"
wait "$sim_pid" 2>/dev/null || true
check 3 '^$' "^qd7-bus: tcp://127.0.0.1:$port: connection refused" \
    "$@" "$bus" --port "tcp://127.0.0.1:$port" read 07
exit $failed
