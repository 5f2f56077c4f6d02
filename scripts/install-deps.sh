#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a fresh
# Debian 12 machine, and makes Wine's 32-bit half run on a kernel that runs
# no 32-bit programs. Runs as root (no sudo); does nothing for what is
# already in place, so it is cheap to call before every build.
set -euo pipefail

codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}" || true)

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
work=$(mktemp -d)
log=$work/apt.log
trap 'rm -rf "$work"' EXIT
# Downloads that fail are tried again before apt gives up on them.
apt=(apt-get -o Acquire::Retries=3)

# A mirror in mid-sync serves some indexes that do not match its release
# file yet (seen here: the security suite's i386 index had the wrong size).
# apt then keeps the indexes it could fetch and ends non-zero; the install
# can still go on with those.
update_indexes() { # [apt-get option...]
    if "${apt[@]}" "$@" update -qq >"$log" 2>&1; then
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
    local options=(install -y -qq --no-install-recommends)
    if [[ $1 == --reinstall ]]; then
        options+=(--reinstall)
        shift
    fi
    "${apt[@]}" "${options[@]}" "$@" >"$log" 2>&1 && return 0
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

# Wine's 32-bit half (the loader below) is an i386 Linux program, and every
# 32-bit Windows program runs through it. Some kernels run no i386 programs
# (booted with ia32_emulation=off): there they run through qemu-user's i386
# emulator, registered with binfmt_misc. qemu 8 or later is needed: 7.2
# spends about a minute starting each Wine process. The paths below can be
# changed for the script's own test.
loader=${LOBBYFIX_WINE_LOADER:-/usr/lib/wine/wine}
binfmt=${LOBBYFIX_BINFMT_MISC:-/proc/sys/fs/binfmt_misc}
apt_etc=${LOBBYFIX_APT_ETC:-/etc/apt}
# i386 ELF files, executables and shared objects alike (e_type 2 or 3, hence
# 0xfe in the mask): the same entry as qemu's own binfmt configuration.
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# Succeeds when the loader runs; else prints the last line of its complaint.
loader_runs() {
    local out
    out=$("$loader" --version 2>&1) && return 0
    echo "${out##*$'\n'}"
    return 1
}

# The first qemu-i386 of version 8 or later on PATH.
recent_qemu() {
    local name path major
    for name in qemu-i386 qemu-i386-static; do
        path=$(command -v "$name") || continue
        major=$("$path" --version 2>/dev/null | sed -n '1s/^.* version \([0-9]\+\)\..*$/\1/p')
        if [[ -n $major ]] && ((major >= 8)); then
            echo "$path"
            return 0
        fi
    done
    return 1
}

# The machine's own mirror of its release: the first "deb" source for the
# release's suite, in one-line or deb822 form.
release_mirror() {
    local file
    for file in "$apt_etc"/sources.list "$apt_etc"/sources.list.d/*.list; do
        [[ -f $file ]] || continue
        sed -n "s/^[[:space:]]*deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\?\([^[:space:]]\+\)[[:space:]]\+$codename[[:space:]].*$/\2/p" "$file"
    done
    for file in "$apt_etc"/sources.list.d/*.sources; do
        [[ -f $file ]] || continue
        awk -v suite="$codename" '
            function stanza() {
                if (index(" " types " ", " deb ") && index(" " suites " ", " " suite " ") && enabled != "no" && uri != "")
                    print uri
                types = suites = uri = enabled = ""
            }
            /^#/ { next }
            /^[[:space:]]*$/ { stanza(); next }
            { key = tolower($1); $1 = "" }
            key == "types:" { types = $0 }
            key == "suites:" { suites = $0 }
            key == "uris:" { uri = $2 }
            key == "enabled:" { enabled = tolower($2) }
            END { stanza() }' "$file"
    done
}

# qemu-user from the release's backports suite, through a source list and
# index folder of its own for this one package: the machine's apt sources
# and indexes stay as they were.
install_backports_qemu() {
    local mirror keyring=/usr/share/keyrings/debian-archive-keyring.gpg signed=""
    mirror=$(release_mirror | head -n 1)
    if [[ -z $codename || -z $mirror ]]; then
        echo "install-deps: found no apt source for the release (${codename:-no codename in /etc/os-release})" \
            "to take qemu-user from its backports suite" >&2
        return 1
    fi
    [[ -f $keyring ]] && signed="[signed-by=$keyring] "
    mkdir -p "$work/backports/lists/partial" "$work/backports/parts"
    echo "deb $signed$mirror $codename-backports main" >"$work/backports/sources.list"
    local own=(-o "Dir::Etc::SourceList=$work/backports/sources.list" -o "Dir::Etc::SourceParts=$work/backports/parts"
        -o "Dir::State::Lists=$work/backports/lists")
    echo "install-deps: installing qemu-user from $codename-backports at $mirror" \
        "(qemu-i386 8 or later starts a Wine process in about a second)"
    export DEBIAN_FRONTEND=noninteractive
    update_indexes "${own[@]}"
    if ! "${apt[@]}" "${own[@]}" install -y -qq --no-install-recommends -t "$codename-backports" qemu-user \
        >"$log" 2>&1; then
        echo "install-deps: could not install qemu-user from $codename-backports. apt-get said:" >&2
        cat "$log" >&2
        return 1
    fi
}

# Registers qemu-i386 for i386 programs. The F flag opens the emulator once,
# now, so that it also serves programs in other mount namespaces and
# chroots. An older registration of the same name goes first: it points at
# an old or missing qemu, or the loader would have run.
register_qemu() { # qemu path
    if [[ ! -e $binfmt/register ]]; then
        echo "install-deps: binfmt_misc is not mounted: mounting it on $binfmt"
        mount -t binfmt_misc binfmt_misc "$binfmt" || return 1
    fi
    if [[ -e $binfmt/qemu-i386 ]]; then
        echo "install-deps: removing the registration of i386 programs that did not run the loader" \
            "($(sed -n 's/^interpreter //p' "$binfmt/qemu-i386"))"
        echo -1 >"$binfmt/qemu-i386" || return 1
    fi
    echo "install-deps: registering $1 with binfmt_misc for i386 executables and shared objects"
    printf ':qemu-i386:M::%s:%s:%s:F' "$i386_magic" "$i386_mask" "$1" >"$binfmt/register"
}

cannot_run_i386() { # cause
    {
        echo "install-deps: Wine's 32-bit loader $loader does not run: $1"
        echo "install-deps: this kernel runs no 32-bit programs, and qemu-i386 could not run them in its place." \
            "Either boot the kernel with ia32_emulation=on, or allow binfmt_misc (a container must be let" \
            "mount and write /proc/sys/fs/binfmt_misc, or have its host register qemu-i386 with the F flag)."
    } >&2
    exit 1
}

if ! why=$(loader_runs); then
    if [[ $why == *"Exec format error"* ]]; then
        echo "install-deps: this kernel runs no 32-bit programs (32-bit emulation is off):" \
            "running them through qemu-i386"
    else
        echo "install-deps: Wine's 32-bit loader does not run ($why): running i386 programs through qemu-i386"
    fi
    qemu=$(recent_qemu) || { install_backports_qemu && qemu=$(recent_qemu); } ||
        cannot_run_i386 "found no qemu-i386 of version 8 or later"
    register_qemu "$qemu" || cannot_run_i386 "could not register $qemu with binfmt_misc on $binfmt"
    why=$(loader_runs) || cannot_run_i386 "$why, even through $qemu"
    echo "install-deps: Wine's 32-bit loader runs through $qemu"
fi
