#!/usr/bin/env bash
# Wine's 32-bit half (the loader below) is an i386 Linux program, and every
# 32-bit Windows program runs through it. Some kernels run no i386 programs
# (booted with ia32_emulation=off): there they run through qemu-user's i386
# emulator, registered with binfmt_misc. qemu 8 or later is needed: 7.2 is
# far slower at starting each Wine process. The paths below can be changed
# for the set-up's own test.
set -euo pipefail
# shellcheck source=common.sh
. "$(dirname "$0")/common.sh"

loader=${LOBBYFIX_WINE_LOADER:-/usr/lib/wine/wine}
binfmt=${LOBBYFIX_BINFMT_MISC:-/proc/sys/fs/binfmt_misc}
# i386 ELF files, executables and shared objects alike (e_type 2 or 3, hence
# 0xfe in the mask): the same entry as qemu's own binfmt configuration.
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# Succeeds when the loader runs; else prints the last line of its complaint.
# The complaint that the kernel refused the program ("Exec format error") is
# printed by this shell, in its own locale: the C locale is set in the
# shell itself, so that the words are English whatever the caller's locale.
loader_runs() {
    local out
    out=$(
        export LC_ALL=C
        "$loader" --version 2>&1
    ) && return 0
    echo "${out##*$'\n'}"
    return 1
}

# The version of a qemu-i386, its major number only, or nothing.
qemu_major() { # path
    "$1" --version 2>/dev/null | sed -n '1s/^.* version \([0-9]\+\)\..*$/\1/p'
}

# The interpreter of the registration of i386 programs, if there is one.
registered_interpreter() {
    [[ -f $binfmt/qemu-i386 ]] && sed -n 's/^interpreter //p' "$binfmt/qemu-i386" | grep -m1 .
}

drop_registration() { # why
    local interpreter
    interpreter=$(registered_interpreter)
    say "removing the registration of i386 programs with $interpreter: $1"
    (echo -1 >"$binfmt/qemu-i386") 2>/dev/null ||
        cannot_run_i386 "the registration of i386 programs with $interpreter ($1) could not be removed from $binfmt"
}

# The first qemu-i386 of version 8 or later on PATH.
recent_qemu() {
    local name path major
    for name in qemu-i386 qemu-i386-static; do
        path=$(command -v "$name") || continue
        major=$(qemu_major "$path")
        if [[ -n $major ]] && ((major >= 8)); then
            echo "$path"
            return 0
        fi
    done
    return 1
}

# qemu-user: Debian 13's own is recent enough; Debian 12's (7.2) is not,
# and there it comes from the backports suite, through a source list, an
# index folder and package caches of its own for this one package: the
# machine's apt sources, indexes and caches stay as they were.
install_qemu() {
    if [[ $host_codename != bookworm ]]; then
        say "installing qemu-user from $host_codename"
        update_indexes
        apt_install -y -qq --no-install-recommends qemu-user || apt_die "could not install qemu-user"
        return
    fi
    local mirror
    if ! debian_mirror "$host_codename" Debian; then
        echo "$me: apt knows no Debian archive for $host_codename (no index whose Release file has Origin" \
            "Debian and Label Debian) to take qemu-user from its backports suite" >&2
        return 1
    fi
    mkdir -p "$work/backports/lists/partial" "$work/backports/parts"
    echo "deb [signed-by=$debian_keyring] $mirror $host_codename-backports main" >"$work/backports/sources.list"
    local own=(-o "Dir::Etc::SourceList=$work/backports/sources.list" -o "Dir::Etc::SourceParts=$work/backports/parts"
        -o "Dir::State::Lists=$work/backports/lists"
        -o "Dir::Cache::pkgcache=$work/backports/pkgcache.bin"
        -o "Dir::Cache::srcpkgcache=$work/backports/srcpkgcache.bin")
    say "installing qemu-user from $host_codename-backports at $mirror" \
        "(qemu-i386 8 or later starts Wine processes far sooner than 7.2)"
    update_indexes "${own[@]}"
    apt_install "${own[@]}" -y -qq --no-install-recommends -t "$host_codename-backports" qemu-user ||
        apt_die "could not install qemu-user from $host_codename-backports"
}

# Registers qemu-i386 for i386 programs. The F flag opens the emulator once,
# now, so that it also serves programs in other mount namespaces and
# chroots. A registration of the same name that is still there goes first:
# the loader did not run through it.
register_qemu() { # qemu path
    if [[ ! -e $binfmt/register ]]; then
        say "binfmt_misc is not mounted: mounting it on $binfmt"
        mount -t binfmt_misc binfmt_misc "$binfmt" || return 1
    fi
    if registered_interpreter >/dev/null; then
        drop_registration "the loader did not run through it"
    fi
    say "registering $1 with binfmt_misc for i386 executables and shared objects"
    printf ':qemu-i386:M::%s:%s:%s:F' "$i386_magic" "$i386_mask" "$1" >"$binfmt/register"
}

cannot_run_i386() { # cause
    {
        echo "$me: Wine's 32-bit loader $loader does not run: $1"
        echo "$me: this kernel runs no 32-bit programs, and qemu-i386 could not run them in its place." \
            "Either boot the kernel with ia32_emulation=on, or allow binfmt_misc (a container must be let" \
            "mount and write /proc/sys/fs/binfmt_misc, or have its host register qemu-i386 with the F flag)."
    } >&2
    exit 1
}

# A registration from before goes when its qemu is older than 8, or when
# the loader does not run and its interpreter is gone. (A registration
# with the F flag runs without its file in sight: a container's host may
# have made it.) Debian's qemu-user-binfmt registers a link to qemu-i386
# under another name.
why=$(loader_runs) && runs=1 || runs=0
if old=$(registered_interpreter); then
    if ((!runs)) && [[ ! -x $old ]]; then
        drop_registration "that file is gone"
    elif major=$(qemu_major "$(readlink -f "$old")") && [[ -n $major ]] && ((major < 8)); then
        drop_registration "qemu $major is too slow to start Wine"
    fi
    why=$(loader_runs) && runs=1 || runs=0
fi
((!runs)) || exit 0
# Any other failure (a missing library, a broken Wine) is not the kernel's,
# and qemu would not mend it.
if [[ $why != *"Exec format error"* ]]; then
    die "Wine's 32-bit loader $loader does not run: $why"
fi
say "this kernel runs no 32-bit programs (32-bit emulation is off): running them through qemu-i386"
qemu=$(recent_qemu) || { install_qemu && qemu=$(recent_qemu); } ||
    cannot_run_i386 "found no qemu-i386 of version 8 or later"
register_qemu "$qemu" || cannot_run_i386 "could not register $qemu with binfmt_misc on $binfmt"
why=$(loader_runs) || cannot_run_i386 "$why, even through $qemu"
say "Wine's 32-bit loader runs through $qemu"
