#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a fresh
# Debian 12 or 13 machine, and makes Wine's 32-bit half run on a kernel that
# runs no 32-bit programs. Runs as root (no sudo); does nothing for what is
# already in place, so it is cheap to call before every build. Each job is a
# file of setup/, run in this order, and its messages carry its name:
#
#   architecture.sh  i386 packages alongside the machine's own (Wine's 32-bit half)
#   packages.sh      the packages, and those whose commands have vanished
#   locales.sh       the Russian and English locales
#   i386-programs.sh i386 programs through qemu-i386 where the kernel runs none
set -euo pipefail
setup=$(cd "$(dirname "$0")/setup" && pwd)
me=install-deps
# shellcheck source=setup/common.sh
. "$setup/common.sh"
require_debian
require_root
for step in architecture packages locales i386-programs; do
    me=install-deps/$step "$BASH" "$setup/$step.sh"
done
