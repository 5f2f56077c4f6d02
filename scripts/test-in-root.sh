#!/usr/bin/env bash
# The whole test suite on another Debian release: a fresh root of that
# release, made with Debian's own tool from the machine's own apt mirror,
# gets a clone of the commit checked out here and runs the README's test
# command in it, from its own set-up on. CI runs it after the suite on the
# machine itself, so that both releases pass.
#
#   bash scripts/test-in-root.sh            Debian 13 on Debian 12, else Debian 12
#   bash scripts/test-in-root.sh trixie     that release
#
# The root is build/<release>-suite/root, made anew each time; the suite
# runs in it through scripts/debian-root.sh, in a sandbox whose mounts go
# with it, however the run ends. Runs as root; uncommitted changes are not
# in the clone.
set -euo pipefail
cd "$(dirname "$0")/.."
me="test-in-root"
# shellcheck source=setup/common.sh
. scripts/setup/common.sh

release=${1:-}
if [[ -z $release ]]; then
    release=trixie
    [[ $host_codename == trixie ]] && release=bookworm
fi
started=$SECONDS
commit=$(git rev-parse HEAD)
folder=build/$release-suite
root=$folder/root

bash scripts/install-deps.sh >/dev/null
# One run a release at a time: the next one removes this one's root.
mkdir -p build
exec {suite_lock}>"$folder.lock"
flock -n "$suite_lock" || die "another run on $release holds $folder.lock"
# Every run starts from a root made anew.
remove_folder "$folder"
bash scripts/debian-root.sh make "$root" "$release" git
git clone --quiet --no-local --no-checkout "$PWD" "$root/lobbyfix"
git -C "$root/lobbyfix" checkout --quiet --detach "$commit"
say "root made and $commit cloned in $((SECONDS - started)) s; running the suite on $release"
bash scripts/debian-root.sh run "$root" --in /lobbyfix bash scripts/test.sh
say "the suite passed on $release in $((SECONDS - started)) s"
