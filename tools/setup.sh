#!/usr/bin/env bash
# Installs every Debian/Ubuntu package the project needs to build, test, run and take screenshots.
# Idempotent: packages already installed are skipped, so a second run takes seconds.
set -euo pipefail

required=(
    build-essential cmake ninja-build git pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang
    fonts-nanum fonts-baekmuk
    xvfb xauth x11-apps imagemagick xdotool strace
    ser2net
    locales
    help2man dpkg-dev file lintian desktop-file-utils appstream
    g++-mingw-w64-x86-64-posix wine wine64
)
# Packages that only some releases carry (libFuzzer's runtime moved between packages).
optional=(libclang-rt-14-dev libclang-rt-15-dev libclang-rt-dev clang-format)

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${required[@]}"; do installed "$p" || missing+=("$p"); done
maybe=()
for p in "${optional[@]}"; do installed "$p" || maybe+=("$p"); done

if [ ${#missing[@]} -eq 0 ] && [ ${#maybe[@]} -eq 0 ]; then
    echo "setup: all packages present"
    exit 0
fi

export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    as_root apt-get update -qq
    as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    updated=1
fi
for p in "${maybe[@]}"; do
    if apt-cache policy "$p" 2>/dev/null | grep -q 'Candidate: [0-9]'; then
        [ -n "${updated:-}" ] || { as_root apt-get update -qq; updated=1; }
        as_root apt-get install -y -qq --no-install-recommends "$p" >/dev/null 2>&1 || true
    fi
done
echo "setup: done"
