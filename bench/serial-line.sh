#!/usr/bin/env bash
# The serial line as the real program drives it, measured with strace. qd7test runs under a private
# Xvfb display against qd7-sim on a pseudo-terminal; strace records every ioctl and write, and the
# script reports, for N frames (default 20) at each speed, the median and range of
#   - RTS up (TIOCMBIS) to RTS down (TIOCMBIC), minus the frame's time on the line, and
#   - the frame's write to RTS down, minus the frame's time,
# that is how long RTS stays up beyond the frame: the guard, where a pty cannot say when its
# transmitter is empty. First at 9600 bit/s (the start-up default), then at 1200 and at 115200,
# each chosen in the setup dialog with the keyboard as a user would. A pty sends at once and has no
# modem lines, so the figures show the program's own wait. It also counts the bytes written to the
# device while RTS was down: there must be none.
#
# Then the simulator stops (the device is gone, as an unplugged adapter): the script lists the
# system calls of 10 ticks while the program waits for the device to come back, and, on a second
# run without strace, the CPU time the program takes over SECONDS (default 60) with the device
# gone.
#
#   bench/serial-line.sh [--frames N] [--idle SECONDS] [--build DIR] [--keep DIR]
#
# --keep DIR keeps the strace logs there. Never opens a real serial device.
set -euo pipefail
cd "$(dirname "$0")/.."

frames=20
idle_s=60
build=build/default
keep=""
while [ $# -gt 0 ]; do
    case "$1" in
    --frames) frames=$2; shift ;;
    --idle) idle_s=$2; shift ;;
    --build) build=$2; shift ;;
    --keep) keep=$2; shift ;;
    -h | --help) sed -n '2,20p' "$0"; exit 0 ;;
    *) echo "serial-line.sh: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done

for tool in Xvfb xdotool strace awk; do
    command -v "$tool" >/dev/null || { echo "serial-line.sh: $tool is missing; run tools/setup.sh" >&2; exit 1; }
done
[ -x "$build/app/qd7test" ] && [ -x "$build/sim/qd7-sim" ] || tools/build.sh default
keep_from_session() {
    if [ -n "$keep" ]; then mkdir -p "$keep" && cp "$work"/*.log "$keep"/ 2>/dev/null || true; fi
}

script=serial-line.sh
. tools/lib/desktop-session.sh
begin_session
start_xvfb
start_sim "$build" 01,03
sim_pid=${pids[-1]}
link=$QD7_COM1
trace="$work/strace.log"
QT_QPA_PLATFORM=xcb strace -f -tt -o "$trace" "$build/app/qd7test" >"$work/app.log" 2>&1 &
strace_pid=$!
pids+=($strace_pid)

rts_downs() { grep -c 'TIOCMBIC, \[TIOCM_RTS\]' "$trace" 2>/dev/null || true; }
# Waits until `count` more frames have gone out (RTS down after each), 2 s a frame at most.
wait_frames() {
    local target=$(($(rts_downs) + $1)) limit=$(($1 * 2 + 10))
    for _ in $(seq 1 "$limit"); do
        [ "$(rts_downs)" -ge "$target" ] && return 0
        sleep 1
    done
    echo "serial-line.sh: the frames did not go out" >&2
    return 1
}

find_window() {
    local id=""
    for _ in $(seq 1 300); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1 || true)
        [ -n "$id" ] && break
        sleep 0.05
    done
    echo "$id"
}

main_id=$(find_window '^QD7 Series RS485 test app\.$')
[ -n "$main_id" ] || { echo "serial-line.sh: the main window did not appear" >&2; exit 1; }
echo "serial-line.sh: $frames frames at 9600 bit/s ..." >&2
wait_frames "$frames"


# Another speed: a click on the front panel, the first read-out, then Port -> Speed, KEY pressed
# STEPS times in the list (Up goes to slower speeds), Enter for OK.
choose_speed() {
    local key=$1 steps=$2 keys=() i
    for ((i = 0; i < steps; i++)); do keys+=("$key"); done
    eval "$(xdotool getwindowgeometry --shell "$main_id")"
    xdotool mousemove $((X + 60)) $((Y + 40)) click 1
    setup_id=$(find_window '^Setup QD7 & RS232C/RS485$')
    [ -n "$setup_id" ] || { echo "serial-line.sh: the setup dialog did not appear" >&2; exit 1; }
    sleep 0.5
    xdotool windowfocus --sync "$setup_id" 2>/dev/null || true
    xdotool key Tab "${keys[@]}" Return
    sleep 1
}
echo "serial-line.sh: $frames frames at 1200 bit/s ..." >&2
choose_speed Up 3 # 9600 -> 1200
wait_frames "$frames"
echo "serial-line.sh: $frames frames at 115200 bit/s ..." >&2
choose_speed Down 9 # 1200 -> 115200
wait_frames "$frames"

# Every frame: RTS up, the write of its 35 bytes, RTS down, on the device's descriptor. The speed
# is the one of the device's latest open: the program opens it again for each new speed. Every
# write to the device is checked against the state of RTS on it.
awk -v frames="$frames" -v device="$link" '
    function secs(t,  p) { split(t, p, ":"); return p[1] * 3600 + p[2] * 60 + p[3] }
    index($0, "openat(AT_FDCWD, \"" device "\"") && $NF ~ /^[0-9]+$/ {
        fd = $NF; opens++; rts = 0; on = 0
    }
    fd != "" && index($0, " close(" fd ")") { fd = "" }
    fd == "" { next }
    index($0, " ioctl(" fd ", TIOCMBIS, [TIOCM_RTS]") { rts = 1; on = secs($2); wrote = 0 }
    index($0, " write(" fd ", ") {
        writes++
        if (!rts) { stray++; print "serial-line.sh: a write while RTS was down: " $0 > "/dev/stderr" }
        if (on && $0 ~ /, 35\) = 35$/) wrote = secs($2)
    }
    index($0, " ioctl(" fd ", TIOCMBIC, [TIOCM_RTS]") {
        rts = 0
        if (on && wrote) { k = ++n[opens]; up[opens, k] = secs($2) - on; left[opens, k] = secs($2) - wrote }
        on = 0
    }
    function sort(a, k,  i, j, tmp) {
        for (i = 2; i <= k; i++) for (j = i; j > 1 && a[j-1] > a[j]; j--) { tmp = a[j]; a[j] = a[j-1]; a[j-1] = tmp }
    }
    function median(a, k) { return (a[int((k+1)/2)] + a[int(k/2)+1]) / 2 }
    function report(phase, speed,   frame_ms, guard_ms, i, k, a, b) {
        frame_ms = 35 * 10 * 1000 / speed
        guard_ms = 2 * 10 * 1000 / speed; if (guard_ms < 1) guard_ms = 1
        k = n[phase] < frames ? n[phase] : frames
        # The last frames at that speed (the read-out of the setup dialog sends at the old one).
        for (i = 1; i <= k; i++) { a[i] = (up[phase, n[phase] - k + i] * 1000) - frame_ms; b[i] = (left[phase, n[phase] - k + i] * 1000) - frame_ms }
        sort(a, k); sort(b, k)
        printf "%6d bit/s  %2d frames  frame %8.3f ms  guard %6.3f ms\n", speed, k, frame_ms, guard_ms
        printf "              RTS up -> down, minus the frame   median %7.3f ms  (min %7.3f, max %7.3f)\n", median(a, k), a[1], a[k]
        printf "              write  -> down, minus the frame   median %7.3f ms  (min %7.3f, max %7.3f)\n", median(b, k), b[1], b[k]
    }
    END {
        if (opens < 3) { print "serial-line.sh: the device was opened " opens " times, not 3" > "/dev/stderr"; exit 1 }
        report(1, 9600); report(2, 1200); report(3, 115200)
        printf "writes to the device %d, while RTS was down %d\n", writes, stray
        if (stray) exit 1
    }' "$trace"

# The device gone, still traced: which system calls a tick makes while it waits.
kill -INT "$sim_pid" 2>/dev/null || true
wait "$sim_pid" 2>/dev/null || true
sleep 3
mark=$(tail -n1 "$trace" | awk '{ print $2 }')
sleep 7
echo "device gone  system calls of the program in 7 s (10 ticks):"
awk -v mark="$mark" '
    function secs(t,  p) { split(t, p, ":"); return p[1] * 3600 + p[2] * 60 + p[3] }
    BEGIN { from = secs(mark) }
    $2 ~ /^[0-9]/ && secs($2) > from && secs($2) <= from + 7 {
        name = $3; sub(/\(.*/, "", name); if (name !~ /^[<+-]/) count[name]++
    }
    END { for (name in count) printf "  %6d %s\n", count[name], name }' "$trace" | sort -rn
# strace ends with the program it started.
traced_pid=$(pgrep -P "$strace_pid" | head -n1 || true)
[ -z "$traced_pid" ] || kill -TERM "$traced_pid" 2>/dev/null || true
wait "$strace_pid" 2>/dev/null || true

# The CPU time over idle_s while the device is gone, on a second run without strace.
"$build/sim/qd7-sim" --meters 01,03 --link "$link" >"$work/sim2.log" 2>&1 &
sim_pid=$!
pids+=($sim_pid)
for _ in $(seq 1 100); do [ -e "$link" ] && break; sleep 0.05; done
QT_QPA_PLATFORM=xcb "$build/app/qd7test" >"$work/app2.log" 2>&1 &
app_pid=$!
pids+=($app_pid)
sleep 5
kill -INT "$sim_pid" 2>/dev/null || true
wait "$sim_pid" 2>/dev/null || true
sleep 3
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)
t0=$(cpu_ticks "$app_pid")
sleep "$idle_s"
kill -0 "$app_pid" 2>/dev/null || { echo "serial-line.sh: qd7test ended while the device was gone" >&2; exit 1; }
t1=$(cpu_ticks "$app_pid")
awk -v d=$((t1 - t0)) -v hz="$hz" -v s="$idle_s" 'BEGIN {
    printf "device gone  CPU of the program %.2f s in %d s (%.2f %%)\n", d / hz, s, 100 * d / hz / s }'
