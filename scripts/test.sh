#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds both targets, runs
# every test and then every quality gate. Safe to run on a fresh Debian 12
# or 13 machine as root. The Windows build, its checks and the release
# package use the toolchain that builds releases (scripts/release-toolchain.sh);
# the tests under Wine use the machine's own Wine. Stops at the first stage that fails, with a non-zero
# status; each stage's heading says how long the suite has run so far.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
started=$SECONDS

stage() { # title
    echo
    echo "== $1 (at $((SECONDS - started)) s)"
}

# ctest fails when the label selects no test, so that a stage whose tests
# were never registered cannot pass.
run_ctest() { # preset label [ctest option...]
    ctest --preset "$1" -L "$2" --no-tests=error "${@:3}"
}

stage "dependencies"
bash scripts/install-deps.sh

stage "host build and unit tests"
cmake --preset host >/dev/null
cmake --build --preset host -j"$jobs"
run_ctest host unit -j"$jobs"

stage "the set-up and the Debian roots, against the real apt, dpkg, bash and bubblewrap"
run_ctest host setup

stage "contract tests over the model"
run_ctest host contract -j"$jobs"

release_toolchain=(bash scripts/release-toolchain.sh)

stage "windows build"
"${release_toolchain[@]}" cmake --preset windows >/dev/null
"${release_toolchain[@]}" cmake --build --preset windows -j"$jobs"

stage "the shipped executable"
"${release_toolchain[@]}" ctest --preset windows -L exe --no-tests=error

stage "release package: reproducible and signed"
"${release_toolchain[@]}" ctest --preset windows -L release --no-tests=error

stage "contract tests under Wine"
run_ctest windows contract

stage "end-to-end scenarios under Wine"
run_ctest windows e2e

stage "quality gates"
bash scripts/gates.sh

echo
echo "== every stage passed in $((SECONDS - started)) s"
