#!/usr/bin/env bash
# watch --publish to a broker far away: 10 meters at the pace of a line at 115200 baud for a
# given time, through a proxy that delays every packet 10 ms each way (a 20 ms round trip), with
# a QoS 2 subscriber on the broker itself. Every row on stdout must reach the subscriber: the
# throughput is the bus's, not one round trip per reading.
#
#   bench/publish_far.sh [BUILD_DIR] [SECONDS]   (default build/default, 60 s)
#
# A pseudo-terminal has no baud pacing: a round of the 10 meters every 47 ms stands in for the
# line, which carries a reading (35 bytes out, 19 back, 10 bits each) in 4.7 ms at 115200.
# Starts its own mosquitto on a free port of 127.0.0.1 with a private configuration.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
seconds=${2:-60}
proxy_program=$build/bench/mqtt_delay_proxy
script=publish_far
command -v mosquitto_sub >/dev/null ||
    { echo "$script: mosquitto_sub is missing (tools/setup.sh test)" >&2; exit 1; }
[ -x "$proxy_program" ] || { echo "$script: $proxy_program is missing (build it)" >&2; exit 1; }
# shellcheck source=tools/lib/broker-bench.sh
source tools/lib/broker-bench.sh
begin_broker_bench
"$proxy_program" "$port" 10 >"$work/proxy.port" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/proxy.port" ] && break; sleep 0.05; done
far=$(cat "$work/proxy.port")
mosquitto_sub -p "$port" -q 2 -t 'far/+/P0' >"$work/received" 2>"$work/sub.err" &
subscriber=$!
pids+=("$subscriber")
sleep 0.5

rounds=$((seconds * 1000 / 47))
t0=$(date +%s.%N)
code=0
"$bus" --port "$work/com1" --speed 115200 --format csv watch "$meters" --interval 47 \
    --count "$rounds" --publish "mqtt://127.0.0.1:$far/far" >"$work/rows" 2>"$work/bus.err" ||
    code=$?
t1=$(date +%s.%N)
rows=$(($(wc -l <"$work/rows") - 1)) # less the csv header
# The subscriber gets what the broker acknowledged; give it a moment to catch up.
for _ in $(seq 50); do [ "$(wc -l <"$work/received")" -ge "$rows" ] && break; sleep 0.1; done
received=$(wc -l <"$work/received")
rate=$(awk -v n="$rows" -v a="$t0" -v b="$t1" 'BEGIN { printf "%.0f", n / (b - a) }')
not_ok=$(grep -vc ',ok,' "$work/rows" || true)
echo "watch --publish through a 20 ms round trip, 10 meters, $seconds s: $rows rows on stdout" \
     "($rate/s, $((not_ok - 1)) of them not ok), $received at the subscriber; exit code $code"
grep 'mqtt:' "$work/bus.err" || true
# Exit code 1 is the bus's (a reply late on a busy machine), 5 would be publishing's.
[ "$received" -eq "$rows" ] && [ "$code" -le 1 ]
