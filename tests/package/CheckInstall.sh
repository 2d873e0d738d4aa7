#!/usr/bin/env bash
# Installs the build into a temporary folder as a package lays it out, once whole and once per
# install component (the two packages), and checks that:
#   - each package holds its files, and every installed file belongs to exactly one package;
#   - no program of qd7-bus loads a Qt library;
#   - the desktop entry and the AppStream data pass the distribution's own validators;
#   - the man pages are man pages.
# Exits 77 (skipped) when a validator is not installed.
#
#   CheckInstall.sh SOURCE_DIR BUILD_DIR APP_ID DOCS
#
# DOCS is ON when the build installs each package's copyright file and changelog (OFF where
# debhelper does it).
set -euo pipefail
source=$1
build=$2
id=$3
docs=$4
for tool in desktop-file-validate appstreamcli readelf; do
    command -v "$tool" >/dev/null || { echo "CheckInstall: $tool is not installed; skipped"; exit 77; }
done
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

fail=0
say() {
    echo "CheckInstall: $*"
    fail=1
}

# The files of one installation, relative to its root, sorted.
files_of() {
    (cd "$1" && find . -type f -o -type l | sed 's|^\./||' | sort)
}

cmake --install "$build" --prefix "$root/all/usr" >/dev/null
for package in qd7test qd7-bus; do
    DESTDIR="$root/$package" cmake --install "$build" --prefix /usr --component "$package" >/dev/null
done

declare -A expected
expected[qd7test]="usr/bin/qd7test
usr/share/applications/$id.desktop
usr/share/metainfo/$id.metainfo.xml
usr/share/man/man1/qd7test.1.gz"
for size in 16 24 32 48 64 128 256; do
    expected[qd7test]+=$'\n'"usr/share/icons/hicolor/${size}x${size}/apps/$id.png"
done
expected[qd7-bus]="usr/bin/qd7-bus
usr/bin/qd7-sim
usr/share/man/man1/qd7-bus.1.gz
usr/share/man/man1/qd7-sim.1.gz"
case "$docs" in
ON | on | TRUE | true | 1)
    for package in qd7test qd7-bus; do
        expected[$package]+=$'\n'"usr/share/doc/$package/copyright"$'\n'"usr/share/doc/$package/changelog.gz"
    done
    ;;
esac
# The shell completions, where cli/ has them.
[ ! -e "$source/cli/completions/qd7-bus.bash" ] ||
    expected[qd7-bus]+=$'\n'usr/share/bash-completion/completions/qd7-bus
[ ! -e "$source/cli/completions/_qd7-bus" ] ||
    expected[qd7-bus]+=$'\n'usr/share/zsh/vendor-completions/_qd7-bus

for package in qd7test qd7-bus; do
    have=$(files_of "$root/$package")
    missing=$(comm -23 <(sort <<<"${expected[$package]}") <(echo "$have"))
    [ -z "$missing" ] || say "$package lacks:"$'\n'"$missing"
done
# Nothing installed outside the two packages, nothing in both.
joined=$( (files_of "$root/qd7test"; files_of "$root/qd7-bus") | sort)
[ "$joined" = "$(files_of "$root/all")" ] ||
    say "the packages do not hold the installation once each:"$'\n'"$(diff <(echo "$joined") \
        <(files_of "$root/all") || true)"

# qd7-bus and qd7-sim run on machines without a desktop.
for program in "$root"/qd7-bus/usr/bin/*; do
    if readelf -d "$program" | grep -q 'NEEDED.*libQt'; then
        say "${program##*/} loads Qt: $(readelf -d "$program" | grep -o 'libQt[^]]*' | xargs)"
    fi
done

all=$root/all/usr
desktop-file-validate "$all/share/applications/$id.desktop" || fail=1
appstreamcli validate --no-net --pedantic "$all/share/metainfo/$id.metainfo.xml" || fail=1
for page in "$all"/share/man/man1/*.gz; do
    if ! zcat "$page" | head -n 5 | grep -q '^\.TH '; then
        say "$page is not a man page"
    fi
done
exit "$fail"
