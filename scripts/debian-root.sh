#!/usr/bin/env bash
# A root of another Debian release, made with Debian's own tool (mmdebstrap)
# from the machine's own Debian mirrors, and commands run inside it. A root
# lies under this repository's build/ folder.
#
#   debian-root.sh make FOLDER CODENAME [PACKAGE...]
#       makes FOLDER a minbase root of CODENAME with the packages, or, when
#       it is one already, installs those of the packages it lacks;
#   debian-root.sh run FOLDER [--in DIR] COMMAND...
#       runs COMMAND in it: in the folder DIR of the root, or else with this
#       repository mounted at the same path, in the current folder when it
#       lies in the repository and at the repository's top when not.
#
# A command runs in bubblewrap's sandbox, in mount and process namespaces of
# its own: a new /proc, a /dev of its own with only the usual few devices,
# /sys read-only and the machine's resolver. The repository is bound
# without those mounts, so no path in the root leads to the machine's /dev,
# /proc or /sys, and when the command ends, however it ends, the kernel
# drops the namespaces with every mount in them. The root trusts the
# machine's certificate authorities too (a machine behind a TLS-inspecting
# proxy needs them). Runs as root.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd -P)
tree=$(dirname "$here")
# shellcheck source=setup/common.sh
. "$here/setup/common.sh"
# Standard error as the caller gave it: a sandbox that cannot be set up is
# told there even while a command's own output goes to a log. This script's
# own descriptors are numbered above 9 (see make_root).
exec {caller_stderr}>&2

usage() {
    sed -n '6,12p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

# The folder's full path, when it lies under the repository's build/.
root_path() { # folder
    local path
    path=$(realpath -m "$1")
    [[ $path == "$tree/build/"?* ]] || die "$1 is not under $tree/build/, where the roots of this repository lie"
    echo "$path"
}

# The suites of CODENAME, each on the machine's own mirror of Debian: the
# archive's for the release and its updates, the security mirror for its
# security suite.
sources_for() { # codename
    local mirror
    debian_mirror "$host_codename" Debian ||
        die "apt knows no Debian archive for $host_codename (no index whose Release file has Origin Debian" \
            "and Label Debian) to take the mirror from"
    echo "deb $mirror $1 main"
    echo "deb $mirror $1-updates main"
    if debian_mirror "$host_codename-security" Debian-Security; then
        echo "deb $mirror $1-security main"
    fi
}

# Copies the machine's certificate bundle into the root, as a local
# authority of its own, so that the root's bundle holds every authority the
# machine trusts.
machine_bundle=/etc/ssl/certs/ca-certificates.crt
trust_machine_authorities() { # root
    machine_trusted "$1" && return 0
    mkdir -p "$1/usr/local/share/ca-certificates"
    cp "$machine_bundle" "$1/usr/local/share/ca-certificates/machine.crt"
    if ! run_in "$1" --in / update-ca-certificates >"$work/ca.log" 2>&1; then
        # So that the next make tries again.
        rm -f "$1/usr/local/share/ca-certificates/machine.crt"
        die "could not add the machine's certificate authorities to the root at $1: $(tail -n 1 "$work/ca.log")"
    fi
}
# Whether the root trusts them already, or has nothing to trust them with.
machine_trusted() { # root
    [[ ! -f $machine_bundle || ! -d $1/usr/share/ca-certificates ]] ||
        cmp -s "$machine_bundle" "$1/usr/local/share/ca-certificates/machine.crt"
}

# The packages of the list that the root lacks, one a line.
missing_packages() { # root package...
    local root=$1 installed p
    shift
    # shellcheck disable=SC2016 # dpkg-query fills in ${Package} and the rest
    installed=$(run_in "$root" --in / dpkg-query -W -f='${Package}:${Architecture} ${Status}\n' |
        sed -n 's/^\(\S*\):\S* install ok installed$/\1/p')
    for p; do
        grep -qxF "$p" <<<"$installed" || echo "$p"
    done
}

# Takes the lock of a root, beside it: shared (-s) or alone (-x), saying
# what it waits for when it has to. A lock taken before is let go first.
root_lock=
lock_root() { # root -s|-x what
    [[ -z $root_lock ]] || exec {root_lock}>&-
    exec {root_lock}>"$1.lock"
    flock -n "$2" "$root_lock" && return 0
    say "waiting for $3"
    flock "$2" "$root_lock"
}

make_root() { # folder codename package...
    local root codename=$2
    root=$(root_path "$1")
    shift 2
    local packages=(ca-certificates "$@")
    mkdir -p "$(dirname "$root")"
    # A root that is ready is only looked at, beside commands that run in
    # it (they hold the lock shared). Changing it takes the lock alone: two
    # first uses would both make it.
    lock_root "$root" -s "another make of the root at $root"
    if [[ -x $root/usr/bin/apt-get ]] && run_in "$root" --in / true && machine_trusted "$root" &&
        [[ -z $(missing_packages "$root" "${packages[@]}") ]]; then
        return 0
    fi
    lock_root "$root" -x "another make of the root at $root, or the commands in it"
    if [[ -x $root/usr/bin/apt-get ]]; then
        local missing
        mapfile -t missing < <(missing_packages "$root" "${packages[@]}")
        if ((${#missing[@]})); then
            say "installing into the $codename root at $root: ${missing[*]}"
            apt_in=(run_in "$root" --in /)
            apt_release="the $codename root"
            apt_get update -qq || apt_die "apt-get update failed in the $codename root at $root"
            apt_install -y -qq --no-install-recommends "${missing[@]}" ||
                apt_die "could not install ${missing[*]} into the $codename root at $root"
        fi
    else
        command -v mmdebstrap >/dev/null || die "mmdebstrap is missing: scripts/install-deps.sh installs it"
        local sources
        sources=$(sources_for "$codename")
        say "making a $codename root at $root with mmdebstrap, from: $(paste -sd ';' <<<"$sources")"
        # What an interrupted make left; mmdebstrap wants an empty folder.
        # It mounts /dev, /proc and /sys in the root while it works: in a
        # mount namespace of its own, those go with it however it ends.
        remove_folder "$root.new"
        remove_folder "$root"
        # A failed download is tried three times more, as by the set-up.
        # mmdebstrap hands apt a pipe as "cat >&N", which dash runs only for
        # N below 10, and the pipe takes the lowest free numbers: those are
        # kept free of what a caller left open. It keeps the lock, above 9.
        # Its few lines of progress stay: on a failure, apt's own messages
        # come with them.
        (
            exec 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&-
            exec unshare --mount --propagation private --fork --kill-child -- mmdebstrap --variant=minbase \
                --mode=root --aptopt='Acquire::Retries "3"' --include="$(IFS=, && echo "${packages[*]}")" \
                "$codename" "$root.new" - <<<"$sources"
        ) || die "mmdebstrap could not make the $codename root at $root.new (its messages are above)"
        mv "$root.new" "$root"
    fi
    trust_machine_authorities "$root"
}

# Runs a command in the root, in bubblewrap's sandbox: in DIR of the root,
# or with the repository mounted. bwrap writes the command's exit code to a
# file descriptor once the command has run, so a sandbox that could not be
# set up, or a command that could not be started, is told apart from a
# command that failed.
run_in() { # root [--in DIR] command...
    local root=$1 cwd status rc=0
    shift
    command -v bwrap >/dev/null || die "bubblewrap (bwrap) is missing: scripts/install-deps.sh installs it"
    # The command keeps root's other powers: apt, mmdebstrap and a root
    # made inside this one need them.
    local sandbox=(--bind "$root" / --proc /proc --dev /dev --ro-bind /sys /sys
        --unshare-pid --die-with-parent --cap-drop CAP_MKNOD --cap-drop CAP_SYS_MODULE
        --cap-drop CAP_SYS_RAWIO --cap-drop CAP_SYS_BOOT --cap-drop CAP_SYS_TIME)
    if [[ -f /etc/resolv.conf ]]; then
        sandbox+=(--ro-bind "$(readlink -f /etc/resolv.conf)" /etc/resolv.conf)
    fi
    if [[ $1 == --in ]]; then
        cwd=$2
        shift 2
    else
        cwd=$(pwd -P)
        [[ $cwd/ == "$tree/"* ]] || cwd=$tree
        # Made here, as any folder: bwrap would make the path's folders
        # readable by root alone.
        mkdir -p "$root$tree"
        sandbox+=(--bind "$tree" "$tree")
    fi
    status=$(mktemp "$work/bwrap.XXXXXX")
    bwrap "${sandbox[@]}" --chdir "$cwd" --json-status-fd 3 -- "$@" 3>"$status" || rc=$?
    if ((rc > 0 && rc < 128)) && ! grep -q '"exit-code"' "$status"; then
        die "bubblewrap could not set up the sandbox of the root at $root, or start $1 in it" \
            "(its message went to the command's standard error)" 2>&"$caller_stderr"
    fi
    return "$rc"
}

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
    folder=$(root_path "$folder")
    [[ -x $folder/bin/sh ]] || die "$folder is not a root made by this script"
    lock_root "$folder" -s "the make of the root at $folder"
    run_in "$folder" "$@"
    ;;
*) usage ;;
esac
