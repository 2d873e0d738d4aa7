#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages that one purpose needs, and no more. Idempotent: what is
# installed already is skipped, so a second run takes a second.
#
#   tools/setup.sh [PURPOSE]...          install for these purposes (none named: all of them)
#   tools/setup.sh --list [PURPOSE]...   print the packages, one a line, and install nothing
#
#   run      build the programs without their tests and run them (tools/run.sh): the
#            Build-Depends of debian/control less the test-only ones, Ninja, a Korean font
#   test     run, and what tools/test.sh needs: the test-only Build-Depends, Google Benchmark,
#            clang with libFuzzer, the Windows cross compiler, wine, NSIS, wixl and msitools (the
#            MSI), icoutils, Python's yaml and jsonschema (the winget manifest's check), and
#            mosquitto's clients for the benchmarks' subscriber
#   package  run, and what tools/package.sh needs: the test-only Build-Depends (the source
#            package runs the tests), debhelper, lintian, the Windows cross compiler, NSIS, wixl
#            and msitools
#   dev      screenshots and checks by hand: Xvfb, xdotool, ImageMagick, strace, clang-format
#
# What building needs is written once, as debian/control's Build-Depends (those marked
# <!nocheck> only for the tests); add a build dependency there and every purpose follows.
# apt waits up to two minutes for a lock that another apt holds (unattended upgrades on a fresh
# machine) before it gives up.
set -euo pipefail
cd "$(dirname "$0")/.."

readonly lock_wait=120
purposes_all=(run test package dev)

# debian/control's Build-Depends, one package a line: "build NAME" or "test NAME" (<!nocheck>).
# The first of alternatives is taken; versions, architectures and profiles are left to apt and
# the build. debhelper-compat stands for debhelper, which only the package build needs.
build_depends() {
    awk '/^Build-Depends:/ { f = 1; sub(/^Build-Depends:/, ""); print; next }
         f && /^[ \t]/ { print; next }
         f { exit }' debian/control |
        tr ',' '\n' |
        while IFS= read -r item; do
            kind=build
            [[ "$item" == *'<!nocheck>'* ]] && kind=test
            name=$(sed -e 's/|.*//; s/([^)]*)//g; s/\[[^]]*\]//g; s/<[^>]*>//g' <<<"$item" | xargs)
            [ -n "$name" ] || continue
            [ "$name" = debhelper-compat ] && continue
            echo "$kind $name"
        done
}

# The packages of one purpose; "?" before a name: only where the release has it.
packages_for() {
    case "$1" in
    run)
        echo build-essential ninja-build fonts-nanum
        build_depends | awk '$1 == "build" { print $2 }'
        ;;
    test)
        packages_for run
        build_depends | awk '$1 == "test" { print $2 }'
        echo libbenchmark-dev clang file mosquitto-clients
        # libFuzzer's runtime moved between packages from one release to the next.
        echo ?libclang-rt-14-dev ?libclang-rt-15-dev ?libclang-rt-dev
        echo g++-mingw-w64-x86-64-posix wine wine64 nsis wixl msitools icoutils
        echo python3-yaml python3-jsonschema
        ;;
    package)
        packages_for run
        build_depends | awk '$1 == "test" { print $2 }'
        echo debhelper lintian file g++-mingw-w64-x86-64-posix nsis wixl msitools
        ;;
    dev)
        echo xvfb xauth x11-apps imagemagick xdotool strace fonts-baekmuk ?clang-format
        ;;
    *)
        echo "setup.sh: unknown purpose $1 (run, test, package, dev)" >&2
        return 2
        ;;
    esac
}

list=
purposes=()
for arg in "$@"; do
    case "$arg" in
    --list) list=1 ;;
    -h | --help) sed -n '2,20p' "$0"; exit 0 ;;
    -*) echo "setup.sh: unknown option $arg" >&2; exit 2 ;;
    *) purposes+=("$arg") ;;
    esac
done
[ ${#purposes[@]} -gt 0 ] || purposes=("${purposes_all[@]}")
for p in "${purposes[@]}"; do
    packages_for "$p" >/dev/null || exit 2
done

wanted=$(for p in "${purposes[@]}"; do packages_for "$p" | tr ' ' '\n'; done | sed '/^$/d' |
    sort -u)
if [ -n "$list" ]; then
    echo "$wanted"
    exit 0
fi

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

has_candidate() {
    apt-cache policy "$1" 2>/dev/null | grep -q 'Candidate: [0-9]'
}

missing=()
maybe=()
for p in $wanted; do
    if [[ "$p" == \?* ]]; then
        installed "${p#\?}" || maybe+=("${p#\?}")
    else
        installed "$p" || missing+=("$p")
    fi
done
# Without anything required to install, an optional package counts only where the release has it.
if [ ${#missing[@]} -eq 0 ]; then
    available=()
    for p in "${maybe[@]}"; do
        has_candidate "$p" && available+=("$p")
    done
    maybe=("${available[@]}")
fi
if [ ${#missing[@]} -eq 0 ] && [ ${#maybe[@]} -eq 0 ]; then
    echo "setup: all packages present (${purposes[*]})"
    exit 0
fi

export DEBIAN_FRONTEND=noninteractive
apt_options=(-o "DPkg::Lock::Timeout=$lock_wait")

# apt-get update does not wait for the lists' lock as install waits for dpkg's: try again until
# the same two minutes have passed.
apt_update() {
    local deadline=$((SECONDS + lock_wait)) log
    log=$(mktemp)
    until as_root apt-get "${apt_options[@]}" update -qq 2>"$log"; do
        if ! grep -q 'lock' "$log" || [ $SECONDS -ge $deadline ]; then
            cat "$log" >&2
            rm -f "$log"
            echo "setup: apt-get update failed (another package manager may still hold its lock)" >&2
            return 1
        fi
        sleep 5
    done
    rm -f "$log"
}

apt_update
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    as_root apt-get "${apt_options[@]}" install -y -qq --no-install-recommends "${missing[@]}" \
        >/dev/null
fi
for p in "${maybe[@]}"; do
    if has_candidate "$p"; then
        as_root apt-get "${apt_options[@]}" install -y -qq --no-install-recommends "$p" >/dev/null
    fi
done
echo "setup: done (${purposes[*]})"
