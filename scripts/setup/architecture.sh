#!/usr/bin/env bash
# Lets apt install i386 packages: Wine's 32-bit half and its libraries. The
# packages step fetches the new architecture's indexes.
set -euo pipefail
# shellcheck source=common.sh
. "$(dirname "$0")/common.sh"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    say "adding the i386 architecture"
    dpkg --add-architecture i386
fi
