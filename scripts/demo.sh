#!/usr/bin/env bash
# Runs the tool on a built-in demo. Until the Windows executable exists this
# builds the host model and runs the unit tests, which play the tool's run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset host >/dev/null
cmake --build --preset host -j"$(nproc)"
ctest --preset host -L unit
