#!/usr/bin/env bash
# qd7-bus.exe's icon (packaging/windows/qd7-bus.ico) must be the icon theme's pictures that
# tools/artwork draws, every size as PNG; after the artwork changes, make it again with the
# command printed below. Exits 77 (skipped) without icotool (Debian: icoutils).
#
#   CheckWindowsIcon.sh SOURCE_DIR
set -euo pipefail
source=$1
command -v icotool >/dev/null || { echo "CheckWindowsIcon: icotool is not installed; skipped"; exit 77; }
made=$(mktemp)
trap 'rm -f "$made"' EXIT
args=()
for size in 16 24 32 48 64 128 256; do
    args+=(-r "res/icons/icon-$size.png")
done
(cd "$source" && icotool -c -o "$made" "${args[@]}")
if ! cmp -s "$made" "$source/packaging/windows/qd7-bus.ico"; then
    echo "CheckWindowsIcon: packaging/windows/qd7-bus.ico is not the icon theme's pictures; make it with"
    echo "  icotool -c -o packaging/windows/qd7-bus.ico ${args[*]}"
    exit 1
fi
