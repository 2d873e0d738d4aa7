#!/usr/bin/env bash
# Takes screenshots of the real program: starts a private Xvfb display, qd7-sim with a few meters
# on a pseudo-terminal, and qd7test with COM1 pointed at it, waits while the meters are found, and
# writes main.png (the main window) and, with --about, about.png (the about box, opened through
# the window's context menu as a user would). With --setup it clicks the front panel and writes
# readout.png (the main window during the first register read-out), setup.png (the setup dialog
# with the selected meter's registers), then types the unit "rpm", confirms with OK and writes
# main-unit.png. It never opens a real serial device: COM1 is the simulator's pty and COM2..COM8
# point at a path that does not exist.
#
#   tools/screenshot.sh [--about] [--setup] [--wait SECONDS] [--out DIR] [--build DIR]
#                       [--meters LIST]
#
# Defaults: --wait 6, --out build/screenshots, --build build/default (built when missing),
# --meters 01,02,03,07,12.
set -euo pipefail
cd "$(dirname "$0")/.."

about=0
setup=0
wait_s=6
out=build/screenshots
build=build/default
meters=01,02,03,07,12
while [ $# -gt 0 ]; do
    case "$1" in
    --about) about=1 ;;
    --setup) setup=1 ;;
    --wait) wait_s=$2; shift ;;
    --out) out=$2; shift ;;
    --build) build=$2; shift ;;
    --meters) meters=$2; shift ;;
    -h | --help) sed -n '2,15p' "$0"; exit 0 ;;
    *) echo "screenshot.sh: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done

for tool in Xvfb xwd convert xdotool; do
    command -v "$tool" >/dev/null || { echo "screenshot.sh: $tool is missing; run tools/setup.sh" >&2; exit 1; }
done
if [ ! -x "$build/app/qd7test" ] || [ ! -x "$build/sim/qd7-sim" ]; then
    tools/build.sh default
    build=build/default
fi
mkdir -p "$out"
work=$(mktemp -d)

pids=()
cleanup() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill -TERM "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# A display number nobody uses.
display=""
for n in $(seq 90 199); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
        display=":$n"
        break
    fi
done
[ -n "$display" ] || { echo "screenshot.sh: no free X display number" >&2; exit 1; }

Xvfb "$display" -screen 0 1024x768x24 -dpi 96 -noreset -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=$display
unset WAYLAND_DISPLAY
for _ in $(seq 1 100); do
    xdotool getdisplaygeometry >/dev/null 2>&1 && break
    sleep 0.05
done
xdotool getdisplaygeometry >/dev/null 2>&1 || { echo "screenshot.sh: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }

link="$work/com1"
"$build/sim/qd7-sim" --meters "$meters" --link "$link" >"$work/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do
    [ -e "$link" ] && break
    sleep 0.05
done
[ -e "$link" ] || { echo "screenshot.sh: qd7-sim did not start" >&2; cat "$work/sim.log" >&2; exit 1; }

export QD7_COM1=$link
for n in 2 3 4 5 6 7 8; do
    export "QD7_COM$n=$work/no-such-port-$n"
done
QT_QPA_PLATFORM=xcb "$build/app/qd7test" >"$work/app.log" 2>&1 &
pids+=($!)

# Window ids by exact title, waiting until the window is mapped.
find_window() {
    local title=$1 id=""
    for _ in $(seq 1 100); do
        id=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n1 || true)
        [ -n "$id" ] && break
        sleep 0.05
    done
    echo "$id"
}
grab() {
    xwd -silent -id "$1" | convert xwd:- "png:$2"
    echo "screenshot.sh: wrote $2"
}

main_id=$(find_window "QD7 Series RS485 test app\\.")
[ -n "$main_id" ] || { echo "screenshot.sh: the main window did not appear" >&2; cat "$work/app.log" >&2; exit 1; }
sleep "$wait_s"
grab "$main_id" "$out/main.png"

if [ "$about" -eq 1 ]; then
    # Right-click on the front panel opens the window's menu; "A" chooses the about entry.
    eval "$(xdotool getwindowgeometry --shell "$main_id")"
    xdotool mousemove $((X + 40)) $((Y + 20)) click 3
    sleep 0.5
    xdotool key a
    about_id=$(find_window "QD7Series 정보")
    [ -n "$about_id" ] || { echo "screenshot.sh: the about box did not appear" >&2; exit 1; }
    sleep 0.5
    grab "$about_id" "$out/about.png"
    xdotool key Escape
fi

if [ "$setup" -eq 1 ]; then
    # A click on the front panel reads the selected meter's eleven registers (8.2 s, progress on
    # the main window) before the setup dialog appears.
    eval "$(xdotool getwindowgeometry --shell "$main_id")"
    xdotool mousemove $((X + 60)) $((Y + 40)) click 1
    sleep 4
    grab "$main_id" "$out/readout.png"
    setup_id=""
    for _ in $(seq 1 300); do
        setup_id=$(xdotool search --onlyvisible --name "^Setup QD7 & RS232C/RS485\$" 2>/dev/null | head -n1 || true)
        [ -n "$setup_id" ] && break
        sleep 0.05
    done
    [ -n "$setup_id" ] || { echo "screenshot.sh: the setup dialog did not appear" >&2; cat "$work/app.log" >&2; exit 1; }
    sleep 0.5
    grab "$setup_id" "$out/setup.png"
    # The focus starts on Port; five tabs reach the unit field, which selects its text.
    xdotool windowfocus --sync "$setup_id" 2>/dev/null || true
    xdotool key Tab Tab Tab Tab Tab
    xdotool type rpm
    xdotool key Return
    sleep 1.5
    grab "$main_id" "$out/main-unit.png"
fi
