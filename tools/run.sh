#!/usr/bin/env bash
# Installs what is missing, builds, and runs qd7test. With QD7_COM1 set, COM1 is that device (a real
# meter bus) and nothing else is started. Otherwise qd7-sim serves a few simulated meters on a
# pseudo-terminal, COM1 points at it, and the simulator stops when the window closes.
# Optional: QD7_SIM_METERS (default 01,07,12) picks the simulated meters' addresses.
#
# It builds its own folder, build/run, without the tests: running needs neither the test
# frameworks nor the developers' tools, so a first run installs and compiles about half as much
# (tools/test.sh builds build/default with everything).
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh run
bin=build/run
cmake -S . -B "$bin" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build "$bin" -j "$(nproc)"

# Set up and built either way; only the window itself needs a desktop.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run.sh: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); qd7test needs an X11 or Wayland desktop" >&2
    exit 1
fi

app="$bin/app/qd7test"

if [ -n "${QD7_COM1:-}" ]; then
    echo "run.sh: COM1 is $QD7_COM1; no simulator"
    exec "$app"
fi

link="$PWD/$bin/com1"
"$bin/sim/qd7-sim" --meters "${QD7_SIM_METERS:-01,07,12}" --link "$link" &
sim=$!
stop_sim() {
    kill -TERM "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
}
trap stop_sim EXIT
trap 'exit 130' INT TERM

# The link appears once the simulator has its pseudo-terminal.
for _ in $(seq 1 100); do
    [ -e "$link" ] && break
    kill -0 "$sim" 2>/dev/null || { echo "run.sh: qd7-sim did not start" >&2; exit 1; }
    sleep 0.05
done
[ -e "$link" ] || { echo "run.sh: qd7-sim made no link at $link" >&2; exit 1; }

QD7_COM1="$link" "$app"
