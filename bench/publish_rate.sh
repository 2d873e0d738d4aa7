#!/usr/bin/env bash
# What publishing costs qd7-bus watch: readings per second one qd7-bus publishes from qd7-sim at
# 115200 baud (the bus, not MQTT, should be the limit: the same watch without --publish beside
# it, and the line's own limit), and the CPU it uses watching 10 meters once a second with
# --publish. A pseudo-terminal has no baud pacing, so the simulated bus answers faster than a real
# line at 115200 could: a rate above the line's limit shows that publishing keeps up with it.
#
#   bench/publish_rate.sh [BUILD_DIR] [SECONDS]   (default build/default, 600 s for the CPU run)
#
# Starts its own mosquitto on a free port of 127.0.0.1 with a private configuration.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
cpu_seconds=${2:-600}
script=publish_rate
# shellcheck source=tools/lib/broker-bench.sh
source tools/lib/broker-bench.sh
begin_broker_bench

rate() { # extra options...; readings per second over 2000 readings, as fast as the bus goes
    local t0 t1
    t0=$(date +%s.%N)
    "$bus" --port "$work/com1" --speed 115200 --format csv "$@" watch "$meters" --interval 0 \
        --count 200 >/dev/null 2>&1
    t1=$(date +%s.%N)
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.0f", 2000 / (b - a) }'
}
plain=$(rate)
published=$(rate --publish "mqtt://127.0.0.1:$port/bench")
# A reading on a real line: the 35 bytes of the request and the 19 of the reply, 10 bits each.
line=$(awk 'BEGIN { printf "%.0f", 115200 / ((35 + 19) * 10) }')
echo "readings/s, 10 meters, on a pty: without --publish $plain, with --publish $published;" \
     "a real line at 115200 carries at most $line"

# CPU of a watch once a second for the given time: user + system ticks of the process.
"$bus" --port "$work/com1" --speed 115200 watch "$meters" --publish "mqtt://127.0.0.1:$port/bench" \
    >/dev/null 2>&1 &
watcher=$!
pids+=("$watcher")
sleep 1
ticks() { awk '{ print $14 + $15 }' "/proc/$watcher/stat"; }
start=$(ticks)
sleep "$cpu_seconds"
end=$(ticks)
hz=$(getconf CLK_TCK)
awk -v t=$((end - start)) -v hz="$hz" -v s="$cpu_seconds" 'BEGIN {
    printf "CPU of watch --publish, 10 meters once a second, %d s: %.2f s, %.3f %% of a core\n",
           s, t / hz, 100 * t / hz / s }'
