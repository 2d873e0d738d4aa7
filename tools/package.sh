#!/usr/bin/env bash
# Builds the Debian package from a clean build folder and checks it with lintian.
#
#   tools/package.sh [--out DIR]       (default: build/package; the .deb is written there)
#
# Compiler and linker flags are Debian's own (dpkg-buildflags: fortified, relro, now), the tests are
# not built, and warnings are not errors, so that a newer compiler still packages. Fails when lintian
# reports an error; its warnings are shown.
set -euo pipefail
cd "$(dirname "$0")/.."

out=build/package
while [ $# -gt 0 ]; do
    case "$1" in
    --out) out=$2; shift ;;
    -h | --help) sed -n '2,8p' "$0"; exit 0 ;;
    *) echo "package.sh: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done

tools/setup.sh
rm -rf "$out"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$out" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX=/usr \
    -DBUILD_TESTING=OFF -DQD7_BUILD_BENCH=OFF -DQD7_WERROR=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$out" -j "$(nproc)"
(cd "$out" && cpack -G DEB >/dev/null)
deb=$(ls "$out"/*.deb)
echo "package.sh: built $deb"

# Errors fail the build; warnings and informational tags are listed for the reader.
lintian --no-tag-display-limit --display-info "$deb" | tee "$out/lintian.log" || true
if grep -q '^E: ' "$out/lintian.log"; then
    echo "package.sh: lintian reports errors" >&2
    exit 1
fi
echo "package.sh: lintian reports no errors; install with: sudo apt install ./$deb"
