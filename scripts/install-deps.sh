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

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if ((${#missing[@]} > 0 || need_i386)); then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    if ((${#missing[@]} > 0)); then
        echo "installing: ${missing[*]}"
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
fi

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
