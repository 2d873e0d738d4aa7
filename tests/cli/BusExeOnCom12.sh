#!/usr/bin/env bash
# qd7-bus.exe under wine on a machine whose one serial port is COM12, the number Windows gives a
# USB adapter as often as not, with a simulated bus behind it:
#   - ports lists COM12 and nothing else, in text and csv, and exits 0;
#   - --port COM12 reaches the bus (a name beyond COM9 needs the device prefix);
#   - a reader that went away ends qd7-bus quietly with the exit code it would have had, as on
#     Linux: `ports | head -1`, a reader gone before the first write, and `watch | head -1`;
#   - a scan shows its progress on a console (script(1) gives wine a terminal), and none into a
#     file.
# The test runs in a wine prefix of its own, which shares the build's drive C but has its own
# registry and session: wine enters every port of HKLM\Software\Wine\Ports in the device map
# (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM) at a session's start, all 255 in the build's prefix, and
# the map is made to hold COM12 alone for this session. COM12 is linked to the simulator's
# pseudo-terminal; every other number keeps its empty value, so no port leads to a device of
# this machine.
#
#   BusExeOnCom12.sh QD7_SIM WINEPREFIX QD7_BUS_EXE EMULATOR...
#
# Exits 77 (skipped) when there is no qd7-sim: build the default preset first.
set -euo pipefail
sim=$1 shared=$2 bus=$3
shift 3
wine=${*: -1}
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
if [ ! -x "$sim" ]; then
    echo "no qd7-sim at $sim: build the default preset first"
    exit 77
fi
"$(dirname "$0")/../support/WinePrefix.sh" check "$shared"

work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
"$sim" --meters 01,07 --link "$work/com" >"$work/sim.log" 2>&1 &
sim_pid=$!
cleanup() {
    "$wineserver" -k 2>/dev/null || true
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 1 100); do [ -e "$work/com" ] && break; sleep 0.05; done
pty=$(readlink -f "$work/com")

mkdir -p "$WINEPREFIX/dosdevices/com256"
cp "$shared"/{system.reg,user.reg,userdef.reg,.update-timestamp} "$WINEPREFIX/"
ln -s "$shared/drive_c" "$WINEPREFIX/drive_c"
ln -s ../drive_c "$WINEPREFIX/dosdevices/c:"
ln -s / "$WINEPREFIX/dosdevices/z:"
# COM12 to the simulator, from the next session on; then a session that stays until the end.
"$wine" reg add 'HKLM\Software\Wine\Ports' /v COM12 /d "$pty" /f >/dev/null
"$wineserver" -w
"$wineserver" -p
"$wine" reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\Serial254' >/dev/null
"$wine" reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /va /f >/dev/null
"$wine" reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\Serial11' /d COM12 /f >/dev/null
link=$(readlink "$WINEPREFIX/dosdevices/com12" || true)
[ "$link" = "$pty" ] || { echo "FAILED: com12 leads to '$link', not to the simulator's $pty"; exit 1; }
"$(dirname "$0")/../support/WinePrefix.sh" check "$WINEPREFIX"

failed=0
fail() {
    echo "FAILED: $*"
    failed=1
}
# Runs a command line with its stdout to $work/out, its stderr to $work/err; exit code in $rc.
run() {
    rc=0
    "$@" >"$work/out" 2>"$work/err" || rc=$?
    out=$(tr -d '\r' <"$work/out")
    err=$(tr -d '\r' <"$work/err")
}

run "$wine" "$bus" ports
[ "$rc" -eq 0 ] && [ "$out" = $'COM12  \\\\.\\COM12\n      driver \\Device\\Serial11' ] && [ -z "$err" ] ||
    fail "ports: exit $rc, stdout: $out, stderr: $err"
run "$wine" "$bus" --format csv ports
[ "$rc" -eq 0 ] && [ "$(sed -n '2,$p' <<<"$out")" = 'COM12,system,\\.\COM12,\\.\COM12,\Device\Serial11,,,,,,' ] ||
    fail "ports in csv: exit $rc, stdout: $out, stderr: $err"
run "$wine" "$bus" --port COM12 read 07 P0
[ "$rc" -eq 0 ] && grep -q '^07  bank 0  P0 .* ok$' <<<"$out" ||
    fail "read on COM12: exit $rc, stdout: $out, stderr: $err"

# Readers that go away. Only the first stage's exit code and stderr count.
rc=0
"$wine" "$bus" ports 2>"$work/err" | head -1 >"$work/out" || true
rc=${PIPESTATUS[0]}
[ "$rc" -eq 0 ] && [ ! -s "$work/err" ] && [ "$(tr -d '\r' <"$work/out")" = 'COM12  \\.\COM12' ] ||
    fail "ports | head -1: exit $rc, stderr: $(cat "$work/err")"
# The reader has left before the program writes a byte.
rm -f "$work/gone"
{
    while [ ! -e "$work/gone" ]; do sleep 0.05; done
    exec "$wine" "$bus" ports 2>"$work/err"
} | {
    exec <&-
    touch "$work/gone"
}
rc=${PIPESTATUS[0]}
[ "$rc" -eq 0 ] && [ ! -s "$work/err" ] || fail "ports to a pipe without a reader: exit $rc, stderr: $(cat "$work/err")"
"$wine" "$bus" --port COM12 watch 07 --interval 0 2>"$work/err" | head -1 >"$work/out" || true
rc=${PIPESTATUS[0]}
[ "$rc" -eq 0 ] && grep -q ' 07  bank 0  P0 .* ok' "$work/out" &&
    [ "$(head -1 "$work/err" | tr -d '\r')" = 'qd7-bus: statistics per meter' ] &&
    ! grep -q 'cannot write' "$work/err" ||
    fail "watch | head -1: exit $rc, stdout: $(cat "$work/out"), stderr: $(cat "$work/err")"

# Progress on a console, and none into a file. Wine's console draws with cursor movements, spaces
# included: the characters alone are compared.
command=$(printf '%q ' env "WINEPREFIX=$WINEPREFIX" WINEDEBUG=-all "$wine" "$bus" --port COM12 \
    --from 06 --to 08 scan)
rc=0
screen=$(LC_ALL=C.UTF-8 script -qec "$command" /dev/null) || rc=$?
text=$(sed 's/\x1b\[[?0-9;]*[a-zA-Z]//g' <<<"$screen" | tr -d ' \r\n')
[ "$rc" -eq 0 ] && grep -q 'scan06(1of3),nonefoundyet' <<<"$text" &&
    grep -q 'scan08(3of3),found1:07' <<<"$text" ||
    fail "scan on a console: exit $rc, no progress shown: $text"
run "$wine" "$bus" --port COM12 --from 06 --to 08 scan
[ "$rc" -eq 0 ] && [ -z "$err" ] && grep -q '^07  bank 0  P0 .* ok$' <<<"$out" ||
    fail "scan into a file: exit $rc, stdout: $out, stderr: $err"
exit $failed
