#!/usr/bin/env bash
# The window's event loop while a device server stops answering. qd7test polls qd7-sim through
# ser2net (rfc2217:// on 127.0.0.1) on a private Xvfb; bench/EventLoopStall.cpp times a
# _NET_WM_PING round trip to its window every 20 ms, first while it polls, then after ser2net is
# stopped and its port is taken by a listener that answers nothing at all (its queue of
# connections full), as a server switched off or out of reach: every attempt to connect again
# then takes its whole bound of 1 s. The longest round trip is the longest a click waits.
#
#   bench/event_loop_stall.sh [BUILD_DIR] [SECONDS]   (default build/default, 10)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
seconds=${2:-10}
script=event_loop_stall
for program in app/qd7test bench/event_loop_stall; do
    [ -x "$build/$program" ] || { echo "$script: build $build/$program first" >&2; exit 1; }
done
# shellcheck source=../tools/lib/desktop-session.sh
source tools/lib/desktop-session.sh
# shellcheck source=../tools/lib/ser2net.sh
source tools/lib/ser2net.sh
begin_session
start_xvfb
start_sim "$build" 01,07,12
start_ser2net "telnet(rfc2217),tcp," "$QD7_COM1"
QD7_COM1="rfc2217://127.0.0.1:$s2n_port" QT_QPA_PLATFORM=xcb "$build/app/qd7test" \
    >"$work/app.log" 2>&1 &
app=$!
pids+=("$app")
sleep 5 # connected, and the meters found
title="QD7 Series RS485 test app."
printf 'polling:            '
"$build/bench/event_loop_stall" "$title" "$seconds"
stop_ser2net
printf 'server unreachable: '
"$build/bench/event_loop_stall" "$title" "$seconds" --blackhole "$s2n_port"
kill -0 "$app" 2>/dev/null || { echo "$script: qd7test ended early" >&2; cat "$work/app.log" >&2; exit 1; }
# What the window said meanwhile (that the connection it lost has no stable identity).
sed -n 's/^qd7test: /  qd7test: /p' "$work/app.log"
