#!/usr/bin/env bash
# Sets up what the tests need, builds, and runs every test. Optional argument: the preset
# (default, asan). After the default preset, the Windows build too: cross-compiled with MinGW-w64,
# its tests run under wine (one of them against the default build's qd7-sim, one installing and
# uninstalling the qd7-bus installer). The tests that build the Debian source package twice take
# half an hour and are left to tools/package.sh --check.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
tools/setup.sh test
tools/build.sh "$preset"
ctest --preset "$preset" -j "$(nproc)"
if [ "$preset" = default ]; then
    tools/build.sh windows-cross
    ctest --preset windows-cross -j "$(nproc)"
fi
