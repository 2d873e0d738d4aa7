#!/usr/bin/env bash
# The CPU the real window program uses while it polls: qd7test on a private X display (Xvfb)
# against qd7-sim with three meters, as a user starts it; after a warm-up in which it finds the
# meters, its CPU time (user + system, from /proc) over the measured seconds, as a share of one
# core.
#
#   bench/poll_cpu.sh [BUILD_DIR] [SECONDS] [WARMUP]   (default build/default, 60, 15)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
seconds=${2:-60}
warmup=${3:-15}
script=poll_cpu
[ -x "$build/app/qd7test" ] || { echo "$script: build $build/app/qd7test first" >&2; exit 1; }
# shellcheck source=../tools/lib/desktop-session.sh
source tools/lib/desktop-session.sh
begin_session
start_xvfb
start_sim "$build" 01,07,12
QT_QPA_PLATFORM=xcb "$build/app/qd7test" >"$work/app.log" 2>&1 &
app=$!
pids+=("$app")
sleep "$warmup"
# The run time of all its threads in nanoseconds (the scheduler's own account): the clock ticks of
# /proc/PID/stat count in 10 ms steps, which is a sixth of the whole goal over a minute.
cpu_ns() { cat /proc/"$app"/task/*/schedstat | awk '{ s += $1 } END { printf "%d\n", s }'; }
start=$(cpu_ns)
sleep "$seconds"
end=$(cpu_ns)
kill -0 "$app" 2>/dev/null || { echo "$script: qd7test ended early" >&2; cat "$work/app.log" >&2; exit 1; }
awk -v ns=$((end - start)) -v s="$seconds" 'BEGIN {
    printf "qd7test polling 3 meters for %d s: %.3f s of CPU, %.3f %% of a core\n",
           s, ns / 1e9, 100 * ns / 1e9 / s }'
