# What the set-up steps share: messages, the machine's release and apt
# sources, and apt-get with every failure named by its cause. Sourced, not
# run. The paths can be changed for the set-up's own test.

me=${me:-$(basename "$0" .sh)}
apt_etc=${LOBBYFIX_APT_ETC:-/etc/apt}
os_release=${LOBBYFIX_OS_RELEASE:-/etc/os-release}
host_codename=$(. "$os_release" 2>/dev/null && echo "${VERSION_CODENAME:-}" || true)
host_release=$(. "$os_release" 2>/dev/null && echo "Debian ${VERSION_ID:-} ($host_codename)" || true)

say() { echo "$me: $*"; }
die() {
    echo "$me: $*" >&2
    exit 1
}

require_root() {
    [[ $(id -u) == 0 ]] || die "not root: the set-up installs packages with apt-get; run it as root"
}

# The mirror of the machine's own Debian source for a suite, from
# sources.list, *.list and deb822 *.sources alike. A Debian source is one
# that carries the main component and is signed, if it names a key at all,
# by Debian's archive keyring: a vendor's repository that happens to name
# the release's codename as its suite (Docker's does) is never taken.
debian_mirror() { # suite
    local file found=""
    for file in "$apt_etc"/sources.list "$apt_etc"/sources.list.d/*.list; do
        [[ -f $file ]] || continue
        found+=$(awk -v suite="$1" '
            /^[[:space:]]*deb[[:space:]]/ {
                options = ""; i = 2
                if ($2 ~ /^\[/) { while (i <= NF) { options = options " " $i; if ($i ~ /\]$/) break; i++ }; i++ }
                uri = $(i); s = $(i + 1); main = 0
                for (j = i + 2; j <= NF; j++) if ($j == "main") main = 1
                if (s == suite && main && (options !~ /signed-by=/ || options ~ /signed-by=[^] ]*debian-archive/))
                    print uri
            }' "$file")$'\n'
    done
    for file in "$apt_etc"/sources.list.d/*.sources; do
        [[ -f $file ]] || continue
        found+=$(awk -v suite="$1" '
            function stanza() {
                if (index(" " types " ", " deb ") && index(" " suites " ", " " suite " ") &&
                    index(" " components " ", " main ") && enabled != "no" && uri != "" &&
                    (signed == "" || signed ~ /debian-archive/))
                    print uri
                types = suites = components = uri = enabled = signed = ""
            }
            /^#/ { next }
            /^[[:space:]]*$/ { stanza(); next }
            { key = tolower($1); $1 = "" }
            key == "types:" { types = $0 }
            key == "suites:" { suites = $0 }
            key == "components:" { components = $0 }
            key == "uris:" { uri = $2 }
            key == "enabled:" { enabled = tolower($2) }
            key == "signed-by:" { signed = $0 }
            END { stanza() }' "$file")$'\n'
    done
    found=$(grep -m1 . <<<"$found") || return 1
    echo "${found%/}"
}

# apt-get waits up to five minutes for a dpkg lock that another process
# holds, and tries failed downloads again. Its output goes to $apt_log,
# which the step sets.
apt_get() {
    DEBIAN_FRONTEND=noninteractive apt-get -o Acquire::Retries=3 -o DPkg::Lock::Timeout=300 "$@" \
        >"${apt_log:?}" 2>&1
}

# Why the last apt-get failed, in one line, from what it said.
apt_cause() {
    local missing
    missing=$(sed -n "s/^E: Unable to locate package \(.*\)$/\1/p; s/^E: Package '\(.*\)' has no installation candidate$/\1/p" \
        "$apt_log" | paste -sd ' ' -)
    if [[ -n $missing ]]; then
        echo "$host_release has no package $missing"
    elif grep -qE 'Could not get lock|Unable to acquire the dpkg frontend lock|Unable to lock' "$apt_log"; then
        echo "the dpkg lock is held by another process, and was not given up within five minutes" \
            "($(grep -m1 -oE 'held by process [0-9]+ \([^)]*\)' "$apt_log" || echo "apt or dpkg is running"))"
    elif grep -qE 'Permission denied|are you root' "$apt_log"; then
        echo "not root: apt-get may not write the package database"
    elif grep -qE 'Temporary failure resolving|Could not resolve|Network is unreachable|No route to host|Could not connect|Connection timed out|Connection refused' "$apt_log"; then
        echo "no network: the package mirror cannot be reached"
    elif grep -qE 'Hash Sum mismatch|unexpected size|Mirror sync in progress' "$apt_log"; then
        echo "a package mirror in mid-sync, whose indexes disagree with its release file for a while: try again later"
    else
        echo "apt-get failed"
    fi
}

# A mirror in mid-sync serves some indexes that do not match its release
# file yet (seen here: the security suite's i386 index had the wrong size).
# apt then keeps the indexes it could fetch and ends non-zero; the install
# can still go on with those. Any other failure ends the set-up.
update_indexes() { # [apt-get option...]
    apt_get "$@" update -qq && return 0
    if [[ $(apt_cause) != *mid-sync* ]]; then
        apt_die "apt-get update failed"
    fi
    local failed
    failed=$(sed -n 's/^[EW]: Failed to fetch \(\S*\) *\(.*\)$/\1 (\2)/p' "$apt_log" |
        sed 's/ *\[IP: [^]]*\])$/)/' | paste -sd ';' -)
    say "apt-get update could not fetch ${failed:-some indexes}; going on with the indexes it did fetch"
}

# Ends the set-up with the cause of the last apt-get failure and apt's own
# lines.
apt_die() { # what failed
    {
        echo "$me: $1: $(apt_cause). apt-get said:"
        cat "$apt_log"
    } >&2
    exit 1
}
