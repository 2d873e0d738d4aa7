#!/usr/bin/env bash
# Measures what tools/setup.sh would install on a fresh Debian 12 machine: a minimal bookworm
# (debootstrap --variant=minbase) is made once in build/setup-size/bookworm, and apt inside it is
# asked what installing each purpose's packages would take. Nothing is installed there but the
# base system. Needs root (debootstrap, chroot), debootstrap and the Debian mirror.
#
#   tools/setup-size.sh [PURPOSE]...            (default: run test package dev)
#   tools/setup-size.sh --packages 'P1 P2 ...'  any list, e.g. an older tools/setup.sh's
#
# Prints per purpose: the packages newly installed, the megabytes downloaded and installed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=build/setup-size/bookworm
mirror=${QD7_DEBIAN_MIRROR:-http://deb.debian.org/debian}

if [ ! -x "$root/usr/bin/apt-get" ]; then
    command -v debootstrap >/dev/null || { echo "setup-size.sh: install debootstrap first" >&2; exit 1; }
    mkdir -p "$(dirname "$root")"
    debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.log" 2>&1 ||
        { tail "$root.log" >&2; exit 1; }
    chroot "$root" apt-get update -qq
fi

measure() { # label packages...
    local label=$1 report
    shift
    report=$(chroot "$root" apt-get install --no-install-recommends --assume-no "$@" 2>&1 || true)
    if grep -q '^E: ' <<<"$report"; then
        echo "$label: apt says: $(grep '^E: ' <<<"$report")" >&2
        return 1
    fi
    printf '%-8s %4s packages, %s to download, %s installed\n' "$label" \
        "$(sed -n 's/.* \([0-9]*\) newly installed.*/\1/p' <<<"$report")" \
        "$(sed -n 's/^Need to get \([0-9.,]* [kMG]B\).*/\1/p' <<<"$report")" \
        "$(sed -n 's/^After this operation, \([0-9.,]* [kMG]B\).*/\1/p' <<<"$report")"
}

if [ "${1:-}" = --packages ]; then
    # shellcheck disable=SC2086 # the list is split on purpose
    measure listed $2
    exit
fi
purposes=("$@")
[ ${#purposes[@]} -gt 0 ] || purposes=(run test package dev)
for purpose in "${purposes[@]}"; do
    # Optional packages ("?") count only where bookworm has them.
    packages=()
    for name in $(tools/setup.sh --list "$purpose"); do
        if [[ "$name" == \?* ]]; then
            if chroot "$root" apt-cache policy "${name#\?}" | grep -q 'Candidate: [0-9]'; then
                packages+=("${name#\?}")
            fi
        else
            packages+=("$name")
        fi
    done
    measure "$purpose" "${packages[@]}"
done
