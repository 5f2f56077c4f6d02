#!/usr/bin/env bash
# Runs a command with the toolchain that builds releases: Debian 12's. On a
# Debian 12 machine that is the machine's own, and the command runs as it
# is. On any other release it runs in a Debian 12 root under build/debian12,
# made on first use with Debian's own tool and kept, with the work tree
# mounted at the same path: so the executable and the zip come out the same,
# byte for byte, whatever the host (a newer MinGW GCC's thread runtime also
# imports functions that Windows XP lacks).
#
#   bash scripts/release-toolchain.sh cmake --preset windows
#   bash scripts/release-toolchain.sh cmake --build --preset windows --target package
set -euo pipefail
scripts=$(cd "$(dirname "$0")" && pwd)
me="release-toolchain"
# shellcheck source=setup/common.sh
. "$scripts/setup/common.sh"

release=bookworm
# What the Windows build, the executable's check and the release test need.
packages=(cmake make g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-i686-dev googletest
    python3 python3-pefile zip osslsigncode openssl git tzdata)

(($#)) || die "usage: release-toolchain.sh COMMAND..."
require_debian
# Not exec: the scratch folder of common.sh goes when this script exits.
if [[ $host_codename == "$release" ]]; then
    "$@"
    exit
fi
root=$(dirname "$scripts")/build/debian12
# Its messages go to standard error, so that they show when the command's
# output is put aside.
bash "$scripts/debian-root.sh" make "$root" "$release" "${packages[@]}" >&2
bash "$scripts/debian-root.sh" run "$root" "$@"
