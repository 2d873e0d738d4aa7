#!/usr/bin/env bash
# Sets everything up, builds, and runs every test. Optional argument: the preset (default, asan).
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
tools/setup.sh
tools/build.sh "$preset"
ctest --preset "$preset" -j "$(nproc)"
