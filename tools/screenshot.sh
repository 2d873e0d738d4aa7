#!/usr/bin/env bash
# Takes screenshots of the real program: starts a private Xvfb display, qd7-sim with a few meters
# on a pseudo-terminal, and qd7test with COM1 pointed at it, waits while the meters are found, and
# writes main.png (the main window) and, with --about, about.png (the about box, opened through
# the window's context menu as a user would). With --menu it opens that menu over the digits while
# polling goes on and writes menu.png two seconds later (the menu's items over the panel). With
# --unit TEXT (given once or more) it sets each unit as a user would, clicking the front panel and
# typing it into the setup dialog, and writes unit-1.png, unit-2.png, ... (the panel with it).
# With --setup it clicks the front panel and writes readout.png (the main window during the first
# register read-out), setup.png (the setup dialog with the selected meter's registers), then types
# the unit "rpm", confirms with OK and writes main-unit.png. With --panel it checks what the front
# panel shows as values and units change: with Autoscan off it sends typed frames that write the
# selected meter's process value, first 999999 (panel-wide.png, six cells over the unit frame),
# -123.456 (panel-point.png), then 1 (panel-narrow.png: "    1" and the frame whole), has the
# window system repaint the whole window (panel-repainted.png, which must equal panel-narrow.png
# but for the lamps: the script fails when it does not), covers the panel with the setup dialog
# and closes it (panel-uncovered.png: value and unit drawn again, the lamps as printed), then with
# Autoscan on confirms the shorter unit "s" (panel-unit.png). With --sending it sets the line to
# 110 baud, where a frame holds the line for 3.2 s, and keeps the shot in which the send lamp is
# green (sending-110.png). --scale N runs the program with QT_SCALE_FACTOR=N (1 to 4, fractions
# such as 1.5 too, where the front panel is drawn for that scale). Shots are read from the
# X server's screen, as a user sees it. It never opens a real serial device: COM1 is the
# simulator's pty and COM2..COM8 point at a path that does not exist.
#
#   tools/screenshot.sh [--about] [--menu] [--unit TEXT]... [--setup] [--panel] [--sending]
#                       [--scale N] [--wait SECONDS] [--out DIR] [--build DIR] [--meters LIST]
#
# Defaults: --scale 1, --wait 6, --out build/screenshots, --build build/default (built when
# missing), --meters 01,02,03,07,12.
set -euo pipefail
cd "$(dirname "$0")/.."

about=0
menu=0
units=()
setup=0
panel=0
sending=0
scale=1
wait_s=6
out=build/screenshots
build=build/default
meters=01,02,03,07,12
while [ $# -gt 0 ]; do
    case "$1" in
    --about) about=1 ;;
    --menu) menu=1 ;;
    --unit) units+=("$2"); shift ;;
    --setup) setup=1 ;;
    --panel) panel=1 ;;
    --sending) sending=1 ;;
    --scale) scale=$2; shift ;;
    --wait) wait_s=$2; shift ;;
    --out) out=$2; shift ;;
    --build) build=$2; shift ;;
    --meters) meters=$2; shift ;;
    -h | --help) sed -n '2,29p' "$0"; exit 0 ;;
    *) echo "screenshot.sh: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
if ! [[ "$scale" =~ ^[0-9]+(\.[0-9]+)?$ ]] || ! awk -v s="$scale" 'BEGIN { exit !(s >= 1 && s <= 4) }'; then
    echo "screenshot.sh: --scale takes 1 to 4" >&2
    exit 2
fi

for tool in Xvfb convert xdotool; do
    command -v "$tool" >/dev/null || { echo "screenshot.sh: $tool is missing; run tools/setup.sh" >&2; exit 1; }
done
if [ ! -x "$build/app/qd7test" ] || [ ! -x "$build/sim/qd7-sim" ]; then
    tools/build.sh default
    build=build/default
fi
mkdir -p "$out"

script=screenshot.sh
. tools/lib/desktop-session.sh
begin_session
start_xvfb
# The panel's typed writes of P0 show their value in the reply: the meters answer a write as a
# read.
start_sim "$build" "$meters" --write-reply rd
QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale "$build/app/qd7test" >"$work/app.log" 2>&1 &
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
# Window pixels to screen pixels: $1 times the scale, rounded down.
scaled() {
    awk -v v="$1" -v s="$scale" 'BEGIN { printf "%d", v * s }'
}
# What the screen shows of window $1, as the PNG $2; menus and boxes open over it are in the shot.
grab() {
    eval "$(xdotool getwindowgeometry --shell "$1")"
    grab_screen "$X" "$Y" "$WIDTH" "$HEIGHT" "$2"
    echo "screenshot.sh: wrote $2"
}
# Moves the pointer to (x, y) in window pixels of the main window, scaled to the screen, and
# clicks there with the given button (default 1).
click_main() {
    eval "$(xdotool getwindowgeometry --shell "$main_id")"
    xdotool mousemove $((X + $(scaled "$1"))) $((Y + $(scaled "$2"))) click "${3:-1}"
}
# Waits for the setup dialog (the register read-out before it takes 8.2 s) and prints its id.
wait_setup() {
    local id=""
    for _ in $(seq 1 300); do
        id=$(xdotool search --onlyvisible --name "^Setup QD7 & RS232C/RS485\$" 2>/dev/null | head -n1 || true)
        [ -n "$id" ] && break
        sleep 0.05
    done
    [ -n "$id" ] || { echo "screenshot.sh: the setup dialog did not appear" >&2; cat "$work/app.log" >&2; exit 1; }
    sleep 0.5
    echo "$id"
}
# Types a 15-character frame body into the text edit and presses "Send"; the reply is read a
# second later. Autoscan must be off.
send_frame() {
    click_main 80 113
    xdotool key ctrl+a
    xdotool type "$1"
    click_main 312 112
    sleep 2
}

# Sets the unit as a user does: a click on the front panel, the read-out, then the unit field of
# the setup dialog (five tabs from Port, which selects its text), the text typed, and OK.
set_unit() {
    local setup_id
    click_main 60 40
    setup_id=$(wait_setup)
    xdotool windowfocus --sync "$setup_id" 2>/dev/null || true
    xdotool key Tab Tab Tab Tab Tab
    xdotool type "$1"
    xdotool key Return
    sleep 1.5
}

# How many pixels differ between the shots $1 and $2 of the main window, its two lamp bars (window
# pixels 4..27 x 85..96, which take whole device pixels at the scale) left out.
differing_outside_lamps() {
    local box n
    box=$(awk -v s="$scale" 'function up(v) { return v == int(v) ? v : int(v) + 1 }
        BEGIN { printf "%d,%d %d,%d", int(4 * s), int(85 * s), up(28 * s) - 1, up(97 * s) - 1 }')
    convert "$1" -fill black -draw "rectangle $box" "$work/a.png"
    convert "$2" -fill black -draw "rectangle $box" "$work/b.png"
    n=$(compare -metric AE "$work/a.png" "$work/b.png" null: 2>&1 || true)
    echo "$n"
}

main_id=$(find_window "QD7 Series RS485 test app\\.")
[ -n "$main_id" ] || { echo "screenshot.sh: the main window did not appear" >&2; cat "$work/app.log" >&2; exit 1; }
sleep "$wait_s"
grab "$main_id" "$out/main.png"

if [ "$about" -eq 1 ]; then
    # Right-click on the front panel opens the window's menu; "A" chooses the about entry.
    click_main 40 20 3
    sleep 0.5
    xdotool key a
    about_id=$(find_window "QD7Series 정보")
    [ -n "$about_id" ] || { echo "screenshot.sh: the about box did not appear" >&2; exit 1; }
    sleep 0.5
    grab "$about_id" "$out/about.png"
    xdotool key Escape
fi

if [ "$menu" -eq 1 ]; then
    # A right click on the digits; the menu stays open while ticks redraw the panel beneath it.
    click_main 120 55 3
    sleep 2
    grab "$main_id" "$out/menu.png"
    xdotool key Escape
    sleep 0.5
fi

n=0
for unit in "${units[@]}"; do
    n=$((n + 1))
    set_unit "$unit"
    grab "$main_id" "$out/unit-$n.png"
done

if [ "$setup" -eq 1 ]; then
    # A click on the front panel reads the selected meter's eleven registers (8.2 s, progress on
    # the main window) before the setup dialog appears.
    click_main 60 40
    sleep 4
    grab "$main_id" "$out/readout.png"
    setup_id=$(wait_setup)
    grab "$setup_id" "$out/setup.png"
    # The focus starts on Port; five tabs reach the unit field, which selects its text.
    xdotool windowfocus --sync "$setup_id" 2>/dev/null || true
    xdotool key Tab Tab Tab Tab Tab
    xdotool type rpm
    xdotool key Return
    sleep 1.5
    grab "$main_id" "$out/main-unit.png"
fi

if [ "$panel" -eq 1 ]; then
    # Autoscan off; typed frames write P0 of the selected meter (the first found, 01), and the
    # reply to each shows the new value.
    click_main 275 93
    sleep 0.5
    send_frame 01WX0P0+9999990
    grab "$main_id" "$out/panel-wide.png"
    send_frame 01WX0P0-1234563
    grab "$main_id" "$out/panel-point.png"
    send_frame 01WX0P0+0000010
    grab "$main_id" "$out/panel-narrow.png"
    # The same state after the window system had the whole window repainted (unmapped and mapped
    # again): the repaints of the changed parts must have left what a repaint of everything
    # shows, pixel for pixel, at every scale. Such a repaint shows the lamps as printed, so their
    # bars are left out of the comparison.
    xdotool windowunmap --sync "$main_id"
    xdotool windowmap --sync "$main_id"
    sleep 1
    grab "$main_id" "$out/panel-repainted.png"
    differing=$(differing_outside_lamps "$out/panel-narrow.png" "$out/panel-repainted.png")
    echo "screenshot.sh: panel-narrow.png and panel-repainted.png differ in $differing pixels outside the lamps"
    [ "$differing" = 0 ] || exit 1
    # The setup dialog opens centred on the pointer, over the panel; Escape closes it again.
    click_main 60 40
    setup_id=$(wait_setup)
    xdotool windowfocus --sync "$setup_id" 2>/dev/null || true
    xdotool key Escape
    sleep 1
    grab "$main_id" "$out/panel-uncovered.png"
    # Autoscan on again, then the unit "s" in place of "Sec".
    click_main 275 93
    set_unit s
    sleep 0.5
    grab "$main_id" "$out/panel-unit.png"
fi

if [ "$sending" -eq 1 ]; then
    # Speed 110 (the first entry of the list after Port) and OK: the port is opened again at
    # 110 baud, where each request holds the line, and the window, for 3.2 s.
    click_main 60 40
    setup_id=$(wait_setup)
    xdotool windowfocus --sync "$setup_id" 2>/dev/null || true
    xdotool key Tab Home Return
    # The send lamp's bar is green while a frame goes out: take shots until one shows it.
    lamp_x=$(scaled 14)
    lamp_y=$(scaled 87)
    shot="$work/sending.png"
    seen=0
    for _ in $(seq 1 40); do
        sleep 0.25
        eval "$(xdotool getwindowgeometry --shell "$main_id")"
        grab_screen "$X" "$Y" "$WIDTH" "$HEIGHT" "$shot"
        pixel=$(convert "$shot" -format "%[pixel:p{$lamp_x,$lamp_y}]" info:)
        case "$pixel" in
        "srgb(0,255,0)" | "rgb(0,255,0)" | lime) seen=1; break ;;
        esac
    done
    if [ "$seen" -eq 1 ]; then
        cp "$shot" "$out/sending-110.png"
        echo "screenshot.sh: wrote $out/sending-110.png"
    else
        echo "screenshot.sh: the send lamp was never seen green at 110 baud" >&2
        cp "$shot" "$out/sending-110.png"
        exit 1
    fi
fi
