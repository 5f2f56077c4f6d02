#!/usr/bin/env bash
# Wine needs the Russian locale for code page 1251, and an English one to
# prove that the texts still read correctly elsewhere.
set -euo pipefail
# shellcheck source=common.sh
. "$(dirname "$0")/common.sh"
gen=0
for loc in ru_RU.UTF-8 en_US.UTF-8; do
    # Not a pipe: grep -q would leave early and locale -a fail with SIGPIPE.
    if ! grep -qi "^${loc%.UTF-8}.utf8$" < <(locale -a 2>/dev/null); then
        sed -i "s/^# *\(${loc} UTF-8\)/\1/" /etc/locale.gen
        grep -q "^${loc} UTF-8" /etc/locale.gen || echo "${loc} UTF-8" >>/etc/locale.gen
        gen=1
    fi
done
if ((gen)); then
    say "generating the locales ru_RU.UTF-8 and en_US.UTF-8"
    locale-gen >/dev/null
fi
