#!/usr/bin/env bash
# Sets up what the tests need, builds, and runs every test. Optional argument: the preset
# (default, asan). After the default preset, the Windows build too: cross-compiled with MinGW-w64,
# its tests run under wine (one of them against the default build's qd7-sim, one installing and
# uninstalling the qd7-bus installer). The test that builds the Debian source package twice, two
# more full builds with the whole test run inside one of them, is left to tools/package.sh --check.
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
