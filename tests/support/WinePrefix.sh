#!/usr/bin/env bash
# The wine prefix of a cross build's tests, in which no COM port leads to a device of the machine.
#
#   WinePrefix.sh init PREFIX EMULATOR...   makes the prefix (EMULATOR: the command that runs a
#                                           program in it), then checks it
#   WinePrefix.sh check PREFIX              fails, naming them, when COM links lead to devices
#
# At the start of every session wine links COM1, COM2, ... in the prefix's dosdevices to the
# machine's /dev/ttyS*, /dev/ttyUSB* and /dev/ttyACM*. /dev/ttyS0 is the kernel's console on many
# machines and virtual machines: a program that opened COM1 there would write its frames onto the
# console. Wine hands out a number only when HKLM\Software\Wine\Ports has no value for it, and an
# empty value removes that port's link: every number it takes from there (1 to 255) gets an empty
# value. The 256th cannot be set there and would still go to the first device found, so a folder
# of that name keeps wine from making the link. The prefix is then checked in a session started
# afresh, so that links made at a session's start are seen.
set -euo pipefail

# Every COM link that leads to a device other than a pseudo-terminal.
device_links() {
    local link target
    for link in "$1"/dosdevices/com*; do
        [ -L "$link" ] || continue
        target=$(readlink -f "$link" || true)
        if [ -c "$target" ] && [[ "$target" != /dev/pts/* ]]; then
            echo "  $(basename "$link") -> $(readlink "$link")"
        fi
    done
}

check() {
    local prefix=$1 found
    found=$(device_links "$prefix")
    if [ -n "$found" ]; then
        echo "DANGER: the wine prefix $prefix links COM ports to devices of this machine:"
        echo "$found"
        echo "A test opening them could write onto a real line or the kernel's console."
        echo "Remove the prefix (rm -rf $prefix) and run the tests again."
        return 1
    fi
}

init() {
    local prefix=$1
    shift
    local wine=${*: -1}
    local wineserver
    wineserver=$(dirname "$wine")/wineserver
    [ -x "$wineserver" ] || wineserver=$(command -v wineserver)

    "$@" wineboot --init
    local reg=$prefix/drive_c/qd7-no-com-ports.reg
    {
        printf 'Windows Registry Editor Version 5.00\r\n\r\n'
        printf '[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
        for n in $(seq 1 255); do printf '"COM%d"=""\r\n' "$n"; done
    } >"$reg"
    "$@" reg import 'C:\qd7-no-com-ports.reg'
    rm -f "$reg"
    local link
    for link in "$prefix"/dosdevices/com*; do
        [ -L "$link" ] && rm -f "$link"
    done
    mkdir -p "$prefix/dosdevices/com256"

    # A session of its own, ended before the check: the registry is written out, and what wine
    # links at a session's start is there to be seen.
    WINEPREFIX=$prefix "$wineserver" -w
    "$@" cmd /c exit
    WINEPREFIX=$prefix "$wineserver" -w
    check "$prefix"
}

command=$1
shift
case $command in
init) init "$@" ;;
check) check "$@" ;;
*)
    echo "usage: WinePrefix.sh init PREFIX EMULATOR... | check PREFIX" >&2
    exit 2
    ;;
esac
