# Sourced by the scripts that run the real program on a private X display against qd7-sim
# (tools/screenshot.sh and the benches). The caller sets `script` (its name, for messages), then
# calls begin_session.

# begin_session: a temporary folder `work` and an empty array `pids`; every process started here
# is appended to `pids`, and the caller appends its own. At exit each is stopped in reverse order,
# with the children it started (the program that strace runs), and the folder is removed; a
# caller that wants something from it first defines keep_from_session, which runs before that.
begin_session() {
    work=$(mktemp -d)
    pids=()
    # Qt wants a private runtime folder and says so on every start without one.
    mkdir -m 700 "$work/runtime"
    export XDG_RUNTIME_DIR="$work/runtime"
    trap end_session EXIT
}

end_session() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        pkill -TERM -P "${pids[i]}" 2>/dev/null || true
        kill -TERM "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    if declare -F keep_from_session >/dev/null; then
        keep_from_session
    fi
    rm -rf "$work"
}

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

# start_sim BUILD METERS [OPTION]...: qd7-sim serving METERS on a pseudo-terminal, with the
# options given; COM1 is its link, COM2 to COM8 paths that do not exist, so that no real serial
# device is ever opened.
start_sim() {
    local build=$1 meters=$2 n
    local link="$work/com1"
    "$build/sim/qd7-sim" --meters "$meters" --link "$link" "${@:3}" >"$work/sim.log" 2>&1 &
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
