#!/usr/bin/env bash
# Installs the packages that the builds, the tests, the gates and the demo
# need and that are missing, by names that Debian 12 and 13 both have; and
# installs again a package whose command has vanished.
set -euo pipefail
# shellcheck source=common.sh
. "$(dirname "$0")/common.sh"

packages=(
    # host build and unit tests
    cmake g++ make googletest libgtest-dev libgmock-dev
    # the 32-bit Windows cross build
    g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-i686-dev
    # packaging, icons, and reading the executable's headers and resources
    zip python3 python3-pefile
    # signing the release package (and a throwaway certificate in its test)
    osslsigncode openssl
    # Wine with its 64-bit loader and its 32-bit half (the tests run 32-bit
    # programs in a 64-bit prefix), the clock zones, a virtual screen,
    # locales, screenshots
    wine wine64 wine32:i386 tzdata xvfb xauth x11-utils locales imagemagick
    # a font with Cyrillic letters for the boxes on the virtual screen
    fonts-dejavu-core fonts-wine
    # quality gates: sanitizers, fuzzing, formatting, static analysis,
    # coverage (libclang-rt-dev names the release's own clang runtime)
    clang libclang-rt-dev clang-format clang-tidy cppcheck gcovr
    # a root of another Debian release, for the toolchain that builds
    # releases and for the suite's run on another release, and the sandbox
    # that commands run in there
    mmdebstrap bubblewrap
    # the shell scripts' lint, and signing the local Debian mirror that the
    # set-up's own test serves
    shellcheck gpg gpg-agent
)

# The commands the scripts and the build call by name, each with the package
# that provides it. dpkg still counts a package as installed when one of its
# files or its alternatives link has gone from /usr/bin (seen here: the
# cross compiler's g++ link and ar vanished), so a missing command gets its
# package installed again.
commands=(
    cmake:cmake
    i686-w64-mingw32-gcc:gcc-mingw-w64-i686-win32
    i686-w64-mingw32-g++:g++-mingw-w64-i686-win32
    i686-w64-mingw32-gcc-ar:gcc-mingw-w64-i686-win32
    i686-w64-mingw32-gcc-ranlib:gcc-mingw-w64-i686-win32
    i686-w64-mingw32-ar:binutils-mingw-w64-i686
    i686-w64-mingw32-ranlib:binutils-mingw-w64-i686
    i686-w64-mingw32-ld:binutils-mingw-w64-i686
    i686-w64-mingw32-windres:binutils-mingw-w64-i686
    osslsigncode:osslsigncode
    openssl:openssl
    wine:wine
    wineserver:wine
    wineboot:wine
    Xvfb:xvfb
    import:imagemagick
    clang++:clang
    clang-format:clang-format
    clang-tidy:clang-tidy
    cppcheck:cppcheck
    gcovr:gcovr
    mmdebstrap:mmdebstrap
    bwrap:bubblewrap
    shellcheck:shellcheck
    gpg:gpg
    gpg-agent:gpg-agent
    # the docs' link check, from the npm registry (the machine may have
    # Node.js from elsewhere, which brings its own npm)
    node:nodejs
    npm:npm
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
# The packages whose command is missing, once each.
broken_packages() {
    local entry
    for entry in "${commands[@]}"; do
        command -v "${entry%%:*}" >/dev/null || echo "${entry#*:}"
    done | sort -u
}
mapfile -t broken < <(broken_packages)

# Installs (or, with --reinstall first, reinstalls) the packages. When apt
# cannot resolve them on a mirror in mid-sync, it tries once more with every
# package taken from the release's own suite (-t <codename>): there the
# i386 libraries that Wine's 32-bit half pulls in find amd64 twins of the
# same version, unless the machine already has those twins from the newer
# -updates or -security suite. apt-get -y never downgrades a package (that
# takes --allow-downgrades), and -t changes nothing under /etc/apt.
install_packages() { # [--reinstall] package...
    local options=(-y -qq --no-install-recommends)
    if [[ $1 == --reinstall ]]; then
        options+=(--reinstall)
        shift
    fi
    apt_install "${options[@]}" "$@" && return 0
    if [[ -n $host_codename ]] && grep -qE 'unmet dependencies|held broken packages' "$apt_log"; then
        say "apt-get could not resolve them; trying once more with every package taken from" \
            "$host_codename (-t $host_codename)"
        apt_install "${options[@]}" -t "$host_codename" "$@" && return 0
    fi
    apt_die "could not install $*"
}

if ((${#missing[@]} > 0 || ${#broken[@]} > 0)); then
    update_indexes
    if ((${#missing[@]} > 0)); then
        say "installing: ${missing[*]}"
        install_packages "${missing[@]}"
    fi
    # Reinstalling runs the package's own set-up again, which also restores
    # its alternatives links. Checked after the install, so that a package
    # just installed with all its commands is not installed twice.
    mapfile -t broken < <(broken_packages)
    if ((${#broken[@]} > 0)); then
        say "reinstalling (a command of theirs is missing): ${broken[*]}"
        install_packages --reinstall "${broken[@]}"
    fi
fi
for entry in "${commands[@]}"; do
    if ! command -v "${entry%%:*}" >/dev/null; then
        die "${entry%%:*} is still missing after installing ${entry#*:}"
    fi
done
