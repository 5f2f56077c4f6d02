#!/usr/bin/env bash
# What the set-up steps and the Debian root scripts share: messages, the
# machine's release, a scratch folder, and apt-get with its locks waited
# for and every failure named by its cause. Sourced, not run. apt and dpkg
# follow APT_CONFIG, DPKG_ADMINDIR and DPKG_ROOT, and the variables below
# can move the release file, the wait and Debian's keyring: the set-up's own
# test runs the real apt on a private machine that way.

me=${me:-$(basename "$0" .sh)}
os_release=${LOBBYFIX_OS_RELEASE:-/etc/os-release}
# How long apt-get waits for a lock that another process holds, in seconds.
lock_wait=${LOBBYFIX_LOCK_WAIT:-300}
# shellcheck disable=SC2034 # for the scripts that source this file
debian_keyring=${LOBBYFIX_DEBIAN_KEYRING:-/usr/share/keyrings/debian-archive-keyring.gpg}

# The machine's release: its ID, its codename, and its name as people know
# it ("Debian 12 (bookworm)", or the PRETTY_NAME of another, such as
# "Ubuntu 24.04.1 LTS").
# (The fields are split at a unit separator: a tab, being white space,
# would let an empty field vanish.)
read_release() {
    # shellcheck source=/dev/null # the machine's release file, not a script of ours
    . "$os_release" 2>/dev/null || return 0
    local name=${PRETTY_NAME:-${ID:-}}
    [[ ${ID:-} != debian || -z ${VERSION_ID:-} ]] || name="Debian $VERSION_ID (${VERSION_CODENAME:-})"
    printf '%s\x1f%s\x1f%s\n' "${ID:-}" "${VERSION_CODENAME:-}" "$name"
}
IFS=$'\x1f' read -r host_id host_codename host_release < <(read_release) || true

work=$(mktemp -d "${TMPDIR:-/tmp}/lobbyfix-${me//\//-}.XXXXXX")
trap 'rm -rf "$work"' EXIT
apt_log=$work/apt.log

# Messages go to standard error, so that none is taken for a function's
# output.
say() { echo "$me: $*" >&2; }
die() {
    echo "$me: $*" >&2
    exit 1
}

require_root() {
    [[ $(id -u) == 0 ]] || die "not root: the set-up installs packages with apt-get; run it as root"
}

# Debian 12 and 13 are the releases whose packages the set-up names.
require_debian() {
    case $host_id:$host_codename in
    debian:bookworm | debian:trixie) ;;
    *) die "this machine runs ${host_release:-a system that $os_release does not name}: the set-up is made for" \
        "Debian 12 (bookworm) and Debian 13 (trixie) only" ;;
    esac
}

# Removes a folder that holds no mount point, on its own file system only:
# a mount left under it by a killed process would lead elsewhere.
remove_folder() { # folder
    local folder mounted
    folder=$(realpath -m "$1")
    mounted=$(awk -v f="$folder" '{ gsub(/\\040/, " ", $5) } index($5 "/", f "/") == 1 { print $5 }' \
        /proc/self/mountinfo | head -n 3)
    [[ -z $mounted ]] || die "$folder holds mount points ($(paste -sd ' ' <<<"$mounted")): unmount them first"
    rm -rf --one-file-system "$folder"
}

# Sets mirror to the address of Debian's own archive for a suite, as apt
# knows it from the Release files of the machine's sources: the Origin
# "Debian" and the archive's Label ("Debian" for a release and its updates,
# "Debian-Security" for its security suite). A vendor's or a local
# repository says otherwise, whatever its suite, component or options. When
# apt has no index of Debian's at all yet, the indexes are fetched first.
debian_mirror() { # codename label
    mirror=$(debian_uri "$@")
    if [[ -z $mirror && -z $(debian_uris) ]]; then
        update_indexes
        mirror=$(debian_uri "$@")
    fi
    mirror=${mirror%/}
    [[ -n $mirror ]]
}
debian_uri() { # codename label
    debian_uris "Label: $2" "Codename: $1" | head -n 1
}
# The addresses of every Debian archive apt has an index of.
debian_uris() { # [indextargets filter...]
    # shellcheck disable=SC2016 # apt fills in $(REPO_URI), not the shell
    apt-get indextargets --format '$(REPO_URI)' "Origin: Debian" "$@" 2>/dev/null | sort -u
}

# apt-get without questions: dpkg keeps a configuration file that was
# changed and reads no terminal. It waits for dpkg's lock as long as
# $lock_wait, and tries a failed download three times more. It speaks
# English whatever the caller's locale, so that its lines can be read
# here. Its output goes to $apt_log; apt_in, when set, is the command that
# runs it (in a root).
apt_in=()
apt_get() {
    quiet_apt apt-get -o Acquire::Retries=3 -o DPkg::Lock::Timeout="$lock_wait" \
        -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold "$@"
}
# An apt or dpkg command in English, with no questions and no terminal,
# its output in $apt_log.
quiet_apt() { # command...
    "${apt_in[@]}" env LC_ALL=C LANGUAGE= DEBIAN_FRONTEND=noninteractive "$@" </dev/null >"$apt_log" 2>&1
}

# apt-get install. apt refuses to install anything after a dpkg run that
# was killed (an earlier set-up's, say) until dpkg has finished that run's
# work, which is done here first, without questions.
apt_install() { # apt-get option... package...
    apt_get install "$@" && return 0
    grep -q "^E: dpkg was interrupted" "$apt_log" || return 1
    say "dpkg was interrupted earlier; finishing its work first (dpkg --configure -a)"
    if ! quiet_apt dpkg --force-confdef --force-confold --configure -a; then
        {
            echo "$me: dpkg could not finish the work of the run that was interrupted. dpkg said:"
            cat "$apt_log"
        } >&2
        exit 1
    fi
    apt_get install "$@"
}

# The lock that apt could not take, and who holds it. apt names the holder
# of the lists lock, but not of dpkg's lock once its wait has run out: the
# kernel's table of locks has it.
lock_holder() { # [log]
    local path pid
    path=$(sed -n 's/^E: Could not get lock \(\S*\)\. .*$/\1/p; s/^E: Unable to acquire the dpkg frontend lock (\(\S*\)), is another process using it?$/\1/p' \
        "${1:-$apt_log}" | head -n 1)
    [[ -n $path ]] || return 1
    pid=$(lock_pid "$path")
    if [[ -n $pid ]]; then
        echo "$path, held by process $pid ($(cat "/proc/$pid/comm" 2>/dev/null))"
    else
        echo "$path, held by another process"
    fi
}

# The process that holds a lock on a file, from /proc/locks, whose lines
# read "1: POSIX ADVISORY WRITE <pid> <major>:<minor>:<inode> 0 EOF".
lock_pid() { # path
    local id
    id=$(stat -c '%Hd %Ld %i' "$1" 2>/dev/null) || return 0
    # shellcheck disable=SC2086 # the three numbers are meant to split
    printf -v id '%02x:%02x:%s' $id
    awk -v id="$id" '$2 != "->" && $6 == id { print $5; exit }' /proc/locks
}

# Why the last apt-get failed, in one line, from what it said.
apt_cause() { # [log]
    local log=${1:-$apt_log} missing holder
    missing=$(sed -n "s/^E: Unable to locate package \(.*\)$/\1/p; s/^E: Package '\(.*\)' has no installation candidate$/\1/p" \
        "$log" | paste -sd ' ' -)
    if [[ -n $missing ]]; then
        echo "${apt_release:-$host_release} has no package $missing"
    elif grep -qE 'Permission denied|are you root' "$log"; then
        echo "not root: apt-get may not write the package database"
    elif holder=$(lock_holder "$log"); then
        echo "the lock $holder, was not given up within $lock_wait s"
    elif grep -qE 'Temporary failure resolving|Could not resolve|Network is unreachable|No route to host|Could not connect|Connection timed out|Connection refused' "$log"; then
        echo "no network: the package mirror cannot be reached"
    elif grep -qE "$mid_sync" "$log"; then
        echo "a package mirror in mid-sync, whose indexes disagree with its release file for a while: try again later"
    else
        echo "apt-get failed"
    fi
}

# Ends with the cause of the last apt-get failure, read from its lines or
# from some of them, and all of apt's lines.
apt_die() { # what failed [log of the cause]
    {
        echo "$me: $1: $(apt_cause "${2:-$apt_log}"). apt-get said:"
        cat "$apt_log"
    } >&2
    exit 1
}

# Fetches the indexes. A lists lock that another apt-get holds (apt's daily
# update, often at a machine's first boot) is waited for, as dpkg's is. With
# options (a source list of the caller's own) every source counts; without,
# only Debian's own do, and another source that fails is named and left out.
update_indexes() { # [apt-get option...]
    local waited=0 holder
    until apt_get -o APT::Update::Error-Mode=any "$@" update -qq; do
        if ! holder=$(lock_holder) || ((waited >= lock_wait)); then
            update_failed "$@"
            return
        fi
        ((waited > 0)) || say "waiting up to $lock_wait s for the lock $holder"
        sleep 2
        waited=$((waited + 2))
    done
}

# apt-get update failed, and not for a lock. Each source that failed (a
# download, a Release file missing or refused, a signature) is Debian's
# when apt knows it for Debian's by the Origin of its Release files. Another
# source (a vendor's, or one whose Release file apt never had) is named
# and left out, once Debian's own indexes for the release are in. A mirror
# in mid-sync serves some indexes that do not match its release file yet
# (seen here: the security suite's i386 index had the wrong size): apt
# keeps the old indexes of that suite, and the install can go on with
# those. Any other failure of Debian's indexes ends the set-up.
update_failed() { # [apt-get option...]
    local line uri debian=() ours=$work/debian-failures.log theirs=""
    grep -qE "$failure_lines" "$apt_log" || apt_die "apt-get update failed"
    if (($# == 0)); then
        [[ -n $(debian_uri "$host_codename" Debian) ]] ||
            apt_die "apt-get update could not fetch Debian's indexes for $host_codename"
        mapfile -t debian < <(debian_uris)
    fi
    : >"$ours"
    while read -r line; do
        uri=$(failed_uri "$line")
        if (($#)) || starts_with_any "$uri" "${debian[@]}" ||
            starts_with_any "$uri" "${debian[@]/#*:\/\//store:}"; then
            echo "$line" >>"$ours"
        else
            theirs+=$uri$'\n'
        fi
    done < <(grep -E "$failure_lines" "$apt_log")
    if [[ -s $ours ]]; then
        ! grep -vqE "$mid_sync" "$ours" ||
            apt_die "apt-get update could not fetch Debian's indexes" "$ours"
        say "apt-get update could not fetch $(sed 's/^.: Failed to fetch \(\S*\) *\(.*\)$/\1 (\2)/; s/ *\[IP: [^]]*\])$/)/' \
            "$ours" | paste -sd ';' -); going on with the indexes it did fetch"
    fi
    [[ -z $theirs ]] || say "apt-get update could not fetch $(sort -u <<<"${theirs%$'\n'}" | paste -sd ';' -)," \
        "of a source that is not Debian's archive as apt knows it; going on without it"
}
failure_lines="^[EW]: (Failed to fetch |The repository '|GPG error: )"
mid_sync='Hash Sum mismatch|unexpected size|Mirror sync in progress'

# The address in a line of apt's about a failed source. A file that failed
# its check after the download is named by its list file, whose name is
# the address with its slashes turned into underscores: it is given as
# store: and that address.
failed_uri() { # line
    local uri=$1
    uri=${uri#*: Failed to fetch }
    uri=${uri#*The repository \'}
    uri=${uri#*GPG error: }
    uri=${uri%% *}
    if [[ $uri == store:* ]]; then
        uri=${uri##*/}
        uri=store:${uri//_//}
    fi
    echo "$uri"
}

starts_with_any() { # text prefix...
    local text=$1 prefix
    shift
    for prefix; do
        [[ $text == "$prefix"* ]] && return 0
    done
    return 1
}
