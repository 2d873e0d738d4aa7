#!/usr/bin/env bash
# qd7-bus.exe's text on a console, under wine: wine gives a program a console when it runs on a
# terminal, here the pseudo-terminal of script(1). A message holding a non-ASCII character (the
# path of the port, from the command line) must reach the terminal as written: through the
# console's wide-character call, not as UTF-8 bytes that the console reads in its own code page
# ("C:/qd7-Ã¼" for "C:/qd7-ü").
#
#   BusExeOnConsole.sh QD7_BUS_EXE EMULATOR...
set -euo pipefail
bus=$1
shift
export LC_ALL=C.UTF-8 # the terminal's encoding, and how wine reads the command line

command=$(printf '%q ' "$@" "$bus" --port 'C:/qd7-ü/com1' read 07)
rc=0
screen=$(script -qec "$command" /dev/null) || rc=$?
# Wine's console draws with cursor movements, spaces included: compare the characters alone.
text=$(sed 's/\x1b\[[?0-9;]*[a-zA-Z]//g' <<<"$screen" | grep -av '^0x\|^ ' | tr -d ' \r')
if [ "$rc" -ne 3 ] || ! grep -q '^qd7-bus:C:/qd7-ü/com1:nosuchdevice$' <<<"$text"; then
    echo "FAILED: exit $rc (expected 3), the console showed:"
    echo "$text"
    exit 1
fi
