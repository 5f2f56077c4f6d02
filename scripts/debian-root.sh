#!/usr/bin/env bash
# A root of another Debian release, made with Debian's own tool (mmdebstrap)
# from the machine's own apt mirrors, and commands run inside it.
#
#   debian-root.sh make FOLDER CODENAME [PACKAGE...]
#       makes FOLDER a minbase root of CODENAME with the packages, or, when
#       it is one already, installs those of the packages it lacks;
#   debian-root.sh run FOLDER [--in DIR] COMMAND...
#       runs COMMAND in it: in the folder DIR of the root, or else in the
#       current folder, with the work tree that holds it mounted at the
#       same path in the root.
#
# A command runs in a mount namespace of its own, with /proc, /sys and /dev
# and the machine's resolver mounted in the root: the kernel removes
# every one of those mounts when the command ends, however it ends. The
# root trusts the machine's certificate authorities too (a machine behind a
# TLS-inspecting proxy needs them). Runs as root.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=setup/common.sh
. "$here/setup/common.sh"

usage() {
    sed -n '4,11p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

# The suites of CODENAME, each on the machine's own mirror of it: the
# archive's mirror for the release and its updates, the security mirror for
# its security suite.
sources_for() { # codename
    local archive security
    archive=$(debian_mirror "$host_codename") || die "found no Debian apt source for $host_codename" \
        "in $apt_etc to take the mirror from"
    security=$(debian_mirror "$host_codename-security") || security=""
    echo "deb $archive $1 main"
    echo "deb $archive $1-updates main"
    [[ -n $security ]] && echo "deb $security $1-security main"
    return 0
}

# Copies the machine's certificate bundle into the root, as a local
# authority of its own, so that the root's bundle holds every authority the
# machine trusts.
trust_machine_authorities() { # root
    local bundle=/etc/ssl/certs/ca-certificates.crt
    [[ -f $bundle && -d $1/usr/share/ca-certificates ]] || return 0
    mkdir -p "$1/usr/local/share/ca-certificates"
    cmp -s "$bundle" "$1/usr/local/share/ca-certificates/machine.crt" && return 0
    cp "$bundle" "$1/usr/local/share/ca-certificates/machine.crt"
    run_in "$1" update-ca-certificates >/dev/null 2>&1 || die "could not add the machine's certificate authorities to the root at $1"
}

make_root() { # folder codename package...
    local root=$1 codename=$2
    shift 2
    local packages=(ca-certificates "$@")
    if [[ -x $root/usr/bin/apt-get ]]; then
        local missing=() installed p
        installed=$(run_in "$root" dpkg-query -W -f='${Package}:${Architecture} ${Status}\n' 2>/dev/null |
            sed -n 's/^\(\S*\):\S* install ok installed$/\1/p')
        for p in "${packages[@]}"; do
            grep -qxF "$p" <<<"$installed" || missing+=("$p")
        done
        if ((${#missing[@]})); then
            say "installing into the $codename root at $root: ${missing[*]}"
            run_in "$root" env DEBIAN_FRONTEND=noninteractive apt-get update -qq >/dev/null ||
                die "apt-get update failed in the $codename root at $root"
            run_in "$root" env DEBIAN_FRONTEND=noninteractive \
                apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null ||
                die "could not install ${missing[*]} into the $codename root at $root"
        fi
    else
        command -v mmdebstrap >/dev/null || die "mmdebstrap is missing: scripts/install-deps.sh installs it"
        local sources
        sources=$(sources_for "$codename")
        say "making a $codename root at $root with mmdebstrap, from: $(paste -sd ';' <<<"$sources")"
        rm -rf "$root"
        mkdir -p "$(dirname "$root")"
        # A root made half-way is made again from the start next time.
        if ! mmdebstrap --quiet --variant=minbase --mode=root --include="$(
            IFS=,
            echo "${packages[*]}"
        )" "$codename" "$root.new" - <<<"$sources"; then
            rm -rf "$root.new"
            die "mmdebstrap could not make the $codename root"
        fi
        mv "$root.new" "$root"
    fi
    trust_machine_authorities "$root"
}

# Runs a command in the root, in a mount namespace of its own: in DIR of
# the root, or in the current folder with its work tree mounted.
run_in() { # root [--in DIR] command...
    local root tree="" cwd=$PWD
    root=$(cd "$1" && pwd)
    shift
    if [[ $1 == --in ]]; then
        cwd=$2
        shift 2
    else
        tree=$(git rev-parse --show-toplevel 2>/dev/null || pwd)
    fi
    unshare --mount --propagation private -- /bin/bash -c "$inside" inside "$root" "$tree" "$cwd" "$@"
}
inside='
set -e
root=$1 tree=$2 cwd=$3
shift 3
# The root becomes a mount point of its own, so that a root made and
# entered inside it can have a mount namespace of its own as well.
mount --rbind "$root" "$root"
mount -t proc proc "$root/proc"
mount --rbind /sys "$root/sys"
mount --rbind /dev "$root/dev"
if [[ -f /etc/resolv.conf ]]; then
    touch "$root/etc/resolv.conf"
    mount --bind "$(readlink -f /etc/resolv.conf)" "$root/etc/resolv.conf"
fi
if [[ -n $tree ]]; then
    mkdir -p "$root$tree"
    mount --rbind "$tree" "$root$tree"
fi
exec chroot "$root" /bin/sh -c "cd \"\$1\" && shift && exec \"\$@\"" sh "$cwd" "$@"
'

(($# >= 2)) || usage
action=$1 folder=$2
shift 2
case $action in
make)
    (($# >= 1)) || usage
    make_root "$folder" "$@"
    ;;
run)
    (($# >= 1)) || usage
    [[ -x $folder/bin/sh ]] || die "$folder is not a root made by this script"
    run_in "$folder" "$@"
    ;;
*) usage ;;
esac
