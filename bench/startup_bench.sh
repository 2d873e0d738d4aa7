#!/usr/bin/env bash
# qd7test's start-up beside a bare Qt dialog's, on a private Xvfb, against qd7-sim (so that its
# port opens as it does for a user): the median time to the first mapped window and the resident
# memory then, and their ratios.
#
#   bench/startup_bench.sh [BUILD_DIR] [ROUNDS]   (default build/default, 21)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
rounds=${2:-21}
script=startup_bench
for program in app/qd7test bench/bare_dialog bench/startup_bench; do
    [ -x "$build/$program" ] || { echo "$script: build $build/$program first" >&2; exit 1; }
done
# shellcheck source=../tools/lib/desktop-session.sh
source tools/lib/desktop-session.sh
begin_session
start_xvfb
start_sim "$build" 01,07,12
QT_QPA_PLATFORM=xcb "$build/bench/startup_bench" "$build/app/qd7test" "$build/bench/bare_dialog" "$rounds"
