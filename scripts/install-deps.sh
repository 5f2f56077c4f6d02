#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a fresh
# Debian 12 machine. Runs as root (no sudo); does nothing for packages that
# are already present, so it is cheap to call before every build.
set -euo pipefail

need_i386=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    need_i386=1
fi

packages=(
    # host build and unit tests
    cmake g++ make googletest libgtest-dev libgmock-dev
    # the 32-bit Windows cross build
    g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-i686-dev
    # packaging and icons
    zip python3
    # signing the release package (and a throwaway certificate in its test)
    osslsigncode openssl
    # Wine with its 64-bit loader and its 32-bit half (the tests run 32-bit
    # programs in a 64-bit prefix), the clock zones, a virtual screen,
    # locales, screenshots
    wine wine64 wine32:i386 tzdata xvfb xauth x11-utils locales imagemagick
    # a font with Cyrillic letters for the boxes on the virtual screen
    fonts-dejavu-core fonts-wine
    # quality gates: sanitizers, fuzzing, formatting, static analysis, coverage
    clang libclang-rt-14-dev clang-format clang-tidy cppcheck gcovr
    # the benchmark
    hyperfine
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
    i686-w64-mingw32-objdump:binutils-mingw-w64-i686
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

# apt-get's output goes to a file, shown only when a step fails.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Downloads that fail are tried again before apt gives up on them.
apt=(apt-get -o Acquire::Retries=3)

# A mirror in mid-sync serves some indexes that do not match its release
# file yet (seen here: the security suite's i386 index had the wrong size).
# apt then keeps the indexes it could fetch and ends non-zero; the install
# can still go on with those.
update_indexes() {
    if "${apt[@]}" update -qq >"$log" 2>&1; then
        return 0
    fi
    local failed
    failed=$(sed -n 's/^[EW]: Failed to fetch \(\S*\) *\(.*\)$/\1 (\2)/p' "$log" |
        sed 's/ *\[IP: [^]]*\])$/)/' | paste -sd ';' -)
    echo "install-deps: apt-get update could not fetch ${failed:-its indexes ($(grep -m1 '^E:' "$log"))};" \
        "going on with the indexes it did fetch"
}

# Installs (or, with --reinstall first, reinstalls) the packages. When that
# cannot be resolved, it tries once more with every package, of both
# architectures, taken from the release's own suite: the i386 libraries that
# Wine's 32-bit half pulls in must match their amd64 twins' versions exactly,
# and while the mirror syncs, the newer suite's index of one architecture may
# be the one that failed. apt-get -y never downgrades a package (that takes
# --allow-downgrades), and -t changes nothing under /etc/apt.
install_packages() { # [--reinstall] package...
    local options=(install -y -qq --no-install-recommends) codename
    if [[ $1 == --reinstall ]]; then
        options+=(--reinstall)
        shift
    fi
    "${apt[@]}" "${options[@]}" "$@" >"$log" 2>&1 && return 0
    codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}" || true)
    if [[ -n $codename ]]; then
        echo "install-deps: apt-get could not install them;" \
            "trying once more with both architectures taken from $codename (-t $codename)"
        "${apt[@]}" "${options[@]}" -t "$codename" "$@" >"$log" 2>&1 && return 0
    fi
    {
        echo "install-deps: could not install $*."
        echo "install-deps: the likely cause is a package mirror in mid-sync, whose indexes disagree for a" \
            "while: try again later. apt-get said:"
        cat "$log"
    } >&2
    exit 1
}

if ((${#missing[@]} > 0 || ${#broken[@]} > 0 || need_i386)); then
    export DEBIAN_FRONTEND=noninteractive
    update_indexes
    if ((${#missing[@]} > 0)); then
        echo "installing: ${missing[*]}"
        install_packages "${missing[@]}"
    fi
    # Reinstalling runs the package's own set-up again, which also restores
    # its alternatives links. Checked after the install, so that a package
    # just installed with all its commands is not installed twice.
    mapfile -t broken < <(broken_packages)
    if ((${#broken[@]} > 0)); then
        echo "reinstalling (a command of theirs is missing): ${broken[*]}"
        install_packages --reinstall "${broken[@]}"
    fi
fi
for entry in "${commands[@]}"; do
    if ! command -v "${entry%%:*}" >/dev/null; then
        echo "install-deps: ${entry%%:*} is still missing after installing ${entry#*:}" >&2
        exit 1
    fi
done

# Wine needs the Russian locale for code page 1251, and an English one to
# prove that the texts still read correctly elsewhere.
gen=0
for loc in ru_RU.UTF-8 en_US.UTF-8; do
    if ! locale -a 2>/dev/null | grep -qi "^${loc%.UTF-8}.utf8$"; then
        sed -i "s/^# *\(${loc} UTF-8\)/\1/" /etc/locale.gen
        grep -q "^${loc} UTF-8" /etc/locale.gen || echo "${loc} UTF-8" >>/etc/locale.gen
        gen=1
    fi
done
if ((gen)); then
    locale-gen >/dev/null
fi
