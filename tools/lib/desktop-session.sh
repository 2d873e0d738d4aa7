# Sourced by the scripts that run the real program on a private X display against qd7-sim
# (tools/screenshot.sh, bench/serial-line.sh). The caller sets `script` (its name, for messages),
# `work` (a temporary folder) and an array `pids`; every process started here is appended to
# `pids`, for the caller's cleanup to stop in reverse order.

# A private Xvfb on a display number nobody uses; DISPLAY points at it, Wayland is left out. The
# server keeps its screen in "$work/Xvfb_screen0" (XWD format), which grab_screen reads.
start_xvfb() {
    local n display=""
    for n in $(seq 90 199); do
        if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
            display=":$n"
            break
        fi
    done
    [ -n "$display" ] || { echo "$script: no free X display number" >&2; exit 1; }
    Xvfb "$display" -screen 0 1024x768x24 -dpi 96 -noreset -nolisten tcp -fbdir "$work" \
        >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    export DISPLAY=$display
    unset WAYLAND_DISPLAY
    for _ in $(seq 1 100); do
        xdotool getdisplaygeometry >/dev/null 2>&1 && break
        sleep 0.05
    done
    xdotool getdisplaygeometry >/dev/null 2>&1 || {
        echo "$script: Xvfb did not start" >&2
        cat "$work/xvfb.log" >&2
        exit 1
    }
}

# grab_screen X Y WIDTH HEIGHT FILE: what the screen shows in that rectangle, as a PNG, read from
# the server's screen itself. xwd, which puts its picture together from what the server reports of
# each window, shows a menu that lies wholly inside another window as a black box although the
# screen shows it painted. The pointer, which the server draws into its screen, is moved to the
# far corner first.
grab_screen() {
    xdotool mousemove 1023 767
    sleep 0.2
    convert "xwd:$work/Xvfb_screen0" -crop "$3x$4+$1+$2" +repage "png:$5"
}

# start_sim BUILD METERS: qd7-sim serving METERS on a pseudo-terminal; COM1 is its link, COM2 to
# COM8 paths that do not exist, so that no real serial device is ever opened.
start_sim() {
    local build=$1 meters=$2 n
    local link="$work/com1"
    "$build/sim/qd7-sim" --meters "$meters" --link "$link" >"$work/sim.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 1 100); do
        [ -e "$link" ] && break
        sleep 0.05
    done
    [ -e "$link" ] || { echo "$script: qd7-sim did not start" >&2; cat "$work/sim.log" >&2; exit 1; }
    export QD7_COM1=$link
    for n in 2 3 4 5 6 7 8; do
        export "QD7_COM$n=$work/no-such-port-$n"
    done
}
