#!/usr/bin/env bash
# Runs lobbyfix.exe on a demo machine: builds the Windows executable, makes a
# fresh Wine prefix under build/demo/ with Dunmarsh "installed" and runs the
# tool in it. With a display ($DISPLAY) you answer the boxes yourself;
# without one it runs on a virtual screen and answers OK to both. It prints
# the DirectPlay lobby's list of applications before and after the run, what
# each box said and the lobby registration written, then has the lobby start
# the game (a stand-in) and prints what was started, and where. It saves a
# screenshot of each box as build/demo/box-<n>.png.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

echo "== windows build"
# With the toolchain that builds releases: the demo runs what players get.
bash scripts/release-toolchain.sh cmake --preset windows >/dev/null
bash scripts/release-toolchain.sh cmake --build --preset windows -j"$(nproc)" --target lobbyfix lobbyfix_e2e_driver lobbyfix_e2e_game

echo "== demo"
exec /usr/bin/python3 scripts/demo.py \
    --tool build/windows/lobbyfix.exe \
    --driver build/windows/tests/e2e/driver.exe \
    --game build/windows/tests/e2e/standin.exe \
    --out build/demo
