#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds both targets and
# runs every test. Safe to run on a fresh Debian 12 machine as root.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
bash scripts/install-deps.sh

echo "== host build and unit tests"
cmake --preset host >/dev/null
cmake --build --preset host -j"$jobs"
ctest --preset host -L unit -j"$jobs"

echo "== contract tests over the model"
ctest --preset host -L contract -j"$jobs"

echo "== windows build"
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs"

echo "== the shipped executable"
ctest --preset windows -L exe

echo "== contract tests under Wine"
ctest --preset windows -L contract

echo "== end-to-end scenarios under Wine"
ctest --preset windows -L e2e
