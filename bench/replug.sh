#!/usr/bin/env bash
# A replug of the adapter of the meter on display, for real: qd7test on a private Xvfb polls
# qd7-sim (meters 07 and 12; 07, found first, is on display) through the simulator's link. The
# simulator is stopped (its pty hangs up, its link goes, as an unplugged adapter's node does), and
# started again on a new pty under the same link a few seconds later. Each round prints the first
# request the bus hears after its return and how long after the link was back it came, in ticks
# of 700 ms: the meter on display, not a probe of 01, within 2 ticks.
#
#   bench/replug.sh [BUILD_DIR] [ROUNDS] [AWAY_SECONDS]   (default build/default, 5, 3)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
rounds=${2:-5}
away=${3:-3}
script=replug
[ -x "$build/app/qd7test" ] || { echo "$script: build $build/app/qd7test first" >&2; exit 1; }
# shellcheck source=../tools/lib/desktop-session.sh
source tools/lib/desktop-session.sh
begin_session
start_xvfb
link="$work/com1"
export QD7_COM1=$link
for n in 2 3 4 5 6 7 8; do
    export "QD7_COM$n=$work/no-such-port-$n"
done

# plug N: a simulator on a new pty, its requests logged with the time they came in $work/simN.log.
plug() {
    "$build/sim/qd7-sim" --meters 07,12 --link "$link" --verbose \
        2> >(while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done \
            >"$work/sim$1.log") >/dev/null &
    sim=$!
    pids+=("$sim")
    while [ ! -e "$link" ]; do sleep 0.005; done
    plugged=$EPOCHREALTIME
}
# first_request N [AFTER]: the time and body of the first request simulator N heard (after that
# many), waiting up to 10 s for it.
first_request() {
    local line
    for _ in $(seq 1000); do
        line=$(grep ' rx [0-9][0-9]RX' "$work/sim$1.log" | sed -n "$((${2:-0} + 1))p" || true)
        [ -n "$line" ] && { echo "$line" | awk '{ print $1, $3 }'; return; }
        sleep 0.01
    done
    echo "$script: simulator $1 heard nothing" >&2
    exit 1
}

plug 0
QT_QPA_PLATFORM=xcb "$build/app/qd7test" >"$work/app.log" 2>&1 &
pids+=($!)
# Found and on display: meter 07 asked again and again.
until [ "$(grep -c ' rx 07RX' "$work/sim0.log" || true)" -ge 3 ]; do sleep 0.1; done
worst=0
for round in $(seq 1 "$rounds"); do
    kill -TERM "$sim"
    wait "$sim" 2>/dev/null || true
    sleep "$away"
    plug "$round"
    read -r heard body < <(first_request "$round")
    ticks=$(awk -v a="$plugged" -v b="$heard" 'BEGIN { printf "%.2f", (b - a) / 0.7 }')
    printf 'round %d: first request %s, %.0f ms (%s ticks) after the adapter was back\n' \
        "$round" "$body" "$(awk -v a="$plugged" -v b="$heard" 'BEGIN { print (b - a) * 1000 }')" \
        "$ticks"
    worst=$(awk -v w="$worst" -v t="$ticks" 'BEGIN { print (t > w ? t : w) }')
    # Polling goes on there before the next unplug.
    first_request "$round" 3 >/dev/null
done
echo "longest: $worst ticks"
