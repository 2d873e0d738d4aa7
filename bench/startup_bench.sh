#!/usr/bin/env bash
# qd7test's start-up beside a bare Qt dialog's, on a private Xvfb, against qd7-sim (so that its
# port opens as it does for a user): the median time to the first mapped window and the resident
# memory then, and their ratios. With SLEEPERS, that many more processes sleep on the machine
# meanwhile, as on a busy desktop: the search of all processes for another holder of the port
# walks each of them (compare a run with 0).
#
#   bench/startup_bench.sh [BUILD_DIR] [ROUNDS] [SLEEPERS]   (default build/default, 21, 0)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
rounds=${2:-21}
sleepers=${3:-0}
script=startup_bench
for program in app/qd7test bench/bare_dialog bench/startup_bench; do
    [ -x "$build/$program" ] || { echo "$script: build $build/$program first" >&2; exit 1; }
done
# shellcheck source=../tools/lib/desktop-session.sh
source tools/lib/desktop-session.sh
begin_session
start_xvfb
start_sim "$build" 01,07,12
if [ "$sleepers" -gt 0 ]; then
    # Children of one shell, which the session's end stops with them.
    (for _ in $(seq "$sleepers"); do sleep 3600 & done; wait) &
    pids+=($!)
    while [ "$(pgrep -c -P "${pids[-1]}" sleep || true)" -lt "$sleepers" ]; do sleep 0.1; done
    echo "with $sleepers more processes asleep"
fi
QT_QPA_PLATFORM=xcb "$build/bench/startup_bench" "$build/app/qd7test" "$build/bench/bare_dialog" "$rounds"
