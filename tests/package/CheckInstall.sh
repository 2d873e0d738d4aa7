#!/usr/bin/env bash
# Installs the build into a temporary folder, as a package would lay it out, and validates the
# desktop entry and the AppStream data with the distribution's own validators. Exits 77 (skipped)
# when a validator is not installed.
#
#   CheckInstall.sh BUILD_DIR APP_ID
set -euo pipefail
build=$1
id=$2
for tool in desktop-file-validate appstreamcli; do
    command -v "$tool" >/dev/null || { echo "CheckInstall: $tool is not installed; skipped"; exit 77; }
done
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
cmake --install "$build" --prefix "$root/usr" >/dev/null

fail=0
expect() {
    if [ ! -e "$root/usr/$1" ]; then
        echo "CheckInstall: missing $1"
        fail=1
    fi
}
expect bin/qd7test
expect bin/qd7-sim
expect bin/qd7-bus
expect "share/applications/$id.desktop"
expect "share/metainfo/$id.metainfo.xml"
expect share/man/man1/qd7test.1.gz
expect share/man/man1/qd7-sim.1.gz
expect share/man/man1/qd7-bus.1.gz
expect share/doc/qd7test/copyright
for size in 16 24 32 48 64 128 256; do
    expect "share/icons/hicolor/${size}x${size}/apps/$id.png"
done

desktop-file-validate "$root/usr/share/applications/$id.desktop" || fail=1
appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/$id.metainfo.xml" || fail=1
# The man pages must be readable as man pages, not only present.
for page in "$root"/usr/share/man/man1/*.gz; do
    if ! zcat "$page" | head -n 5 | grep -q '^\.TH '; then
        echo "CheckInstall: $page is not a man page"
        fail=1
    fi
done
exit "$fail"
