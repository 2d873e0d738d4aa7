#!/usr/bin/env bash
# Sets everything up, builds, and runs every test. Optional argument: the preset (default, asan).
# After the default preset, the Windows build too: cross-compiled with MinGW-w64, its tests run
# under wine (one of them against the default build's qd7-sim).
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
tools/setup.sh
tools/build.sh "$preset"
ctest --preset "$preset" -j "$(nproc)"
if [ "$preset" = default ]; then
    tools/build.sh windows-cross
    ctest --preset windows-cross -j "$(nproc)"
fi
