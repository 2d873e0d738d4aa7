#!/usr/bin/env bash
# The CPU qd7-bus uses as a logger: `watch` of 10 meters once a second (the default interval) at
# 9600 baud on qd7-sim, as a share of one core. The goal is at most 0.1 %:
# qd7-bus waits for each reply on the port and sleeps between rounds, it does not poll.
#
#   bench/watch_cpu.sh [BUILD_DIR] [SECONDS] [WARMUP]   (default build/default, 60, 5)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
seconds=${2:-60}
warmup=${3:-5}
script=watch_cpu
sim=$build/sim/qd7-sim
bus=$build/cli/qd7-bus
for program in "$sim" "$bus"; do
    [ -x "$program" ] || { echo "$script: $program is missing; build first" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

meters=01,02,03,04,05,06,07,08,09,10
"$sim" --meters "$meters" --link "$work/com1" >"$work/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -e "$work/com1" ] && break; sleep 0.05; done
[ -e "$work/com1" ] || { echo "$script: qd7-sim did not start" >&2; cat "$work/sim.log" >&2; exit 1; }

# The rows go to the null device: what a file system takes to store them is not qd7-bus's own.
"$bus" --port "$work/com1" --format csv watch 1:10 >/dev/null 2>"$work/bus.err" &
watcher=$!
pids+=("$watcher")
sleep "$warmup"
# The run time of all its threads in nanoseconds (the scheduler's own account): the clock ticks of
# /proc/PID/stat count in 10 ms steps, more than the whole goal over a minute.
cpu_ns() { cat /proc/"$watcher"/task/*/schedstat | awk '{ s += $1 } END { printf "%d\n", s }'; }
start=$(cpu_ns)
sleep "$seconds"
end=$(cpu_ns)
kill -0 "$watcher" 2>/dev/null || { echo "$script: qd7-bus ended early" >&2; cat "$work/bus.err" >&2; exit 1; }
# Its statistics at the end say that every reading was answered.
kill -INT "$watcher"
wait "$watcher" 2>/dev/null || true
read -r requests ok < <(awk '/^[0-9][0-9] / { r += $2; o += $3 } END { print r + 0, o + 0 }' "$work/bus.err")
awk -v ns=$((end - start)) -v s="$seconds" -v r="$requests" -v ok="$ok" 'BEGIN {
    printf "qd7-bus watch of 10 meters once a second for %d s (%d of %d requests answered in " \
           "the whole run): %.3f s of CPU, %.3f %% of a core\n", s, ok, r, ns / 1e9, 100 * ns / 1e9 / s }'
