#!/usr/bin/env bash
# Start-up benchmark under Wine: the median time from process start to the
# first message box, for lobbyfix.exe and for two bare programs that only
# show one box, one carrying lobbyfix's application manifest and one
# without. Prints both ratios, the executable's size and its imported DLLs.
#
#   bash bench/run.sh          (BENCH_RUNS=15 by default, at least 9)
#
# Everything runs in one Wine session (one prefix under build/bench, made
# the way the tests make theirs, with one persistent wineserver), and the
# programs take turns, so that a slow moment
# of the machine is shared among them. Windows are drawn by Wine's null
# graphics driver by default (BENCH_DISPLAY=null): the boxes are created and
# shown as usual, without the X round trips that make the times several
# times noisier; BENCH_DISPLAY=xvfb draws them on a virtual X screen.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

runs=${BENCH_RUNS:-15}
display=${BENCH_DISPLAY:-null}
if ((runs < 9)); then
    echo "BENCH_RUNS must be at least 9" >&2
    exit 2
fi
out=$root/build/bench
mkdir -p "$out"

bash scripts/install-deps.sh

echo "== building lobbyfix.exe (windows preset)"
have_lobbyfix=1
bash scripts/release-toolchain.sh cmake --preset windows >/dev/null
if ! bash scripts/release-toolchain.sh cmake --build --preset windows --target lobbyfix lobbyfix_e2e_driver -j"$(nproc)" >"$out/build.log" 2>&1; then
    tail -20 "$out/build.log"
    echo "lobbyfix.exe did not build; measuring the bare programs only"
    have_lobbyfix=0
fi
# The manifest as the Windows build configures it from res/.
manifest=$root/build/windows/src/app/generated/lobbyfix.manifest
exe=$root/build/windows/lobbyfix.exe
if ((have_lobbyfix)) && [[ ! -f $exe ]]; then
    echo "no $exe; measuring the bare programs only"
    have_lobbyfix=0
fi

echo "== building the watcher and the bare programs"
cc=i686-w64-mingw32-gcc
flags=(-O2 -Wall -Wextra -Werror -static -s)
$cc "${flags[@]}" -o "$out/watcher.exe" bench/watcher.c
$cc "${flags[@]}" -mwindows -o "$out/bare-plain.exe" bench/bare-box.c
programs=(bare-plain.exe)
if [[ -f $manifest ]]; then
    # Resource type 24 (manifest), id 1: the one the loader applies.
    printf '1 24 "%s"\n' "$manifest" >"$out/bare-manifest.rc"
    i686-w64-mingw32-windres "$out/bare-manifest.rc" -O coff -o "$out/bare-manifest.res"
    $cc "${flags[@]}" -mwindows -o "$out/bare-manifest.exe" bench/bare-box.c "$out/bare-manifest.res"
    programs=(bare-manifest.exe "${programs[@]}")
else
    echo "no configured manifest at $manifest; skipping the bare program with it"
fi
if ((have_lobbyfix)); then
    cp "$exe" "$out/lobbyfix.exe"
    programs=(lobbyfix.exe "${programs[@]}")
fi

echo "== measuring ${programs[*]}: $runs runs each, alternating (display: $display)"
results=$out/results.txt
# The prefix is made as the tests make theirs (tests/support/winedriver.py):
# a fixed architecture, Wine's own fonts, and for the null display the
# driver's registry setting. Wine's helper processes outlive the programs,
# so output goes to files.
(
    cd "$out"
    xvfb-run -a -s "-screen 0 1024x768x24" python3 - "$root" "$display" "$runs" "${programs[@]}" <<'PY'
import os
import subprocess
import sys

root, display, runs, *programs = sys.argv[1:]
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(root, "tests", "support"))
import winedriver  # noqa: E402

prefix = winedriver.Prefix("prefix", os.path.join(root, "build", "windows", "tests", "e2e", "driver.exe"),
                           null_display=display == "null")
screen = None if display == "null" else os.environ["DISPLAY"]
try:
    prefix.create("wineboot.log", display=screen)
except winedriver.WineError as failure:
    sys.exit(str(failure))
try:
    with open("results.txt", "wb") as out, open("watcher.err", "wb") as err:
        status = subprocess.run(["wine", "watcher.exe", runs, "30", *programs], env=prefix.env(display=screen),
                                stdin=subprocess.DEVNULL, stdout=out, stderr=err, check=False).returncode
finally:
    prefix.shutdown()
sys.exit(status)
PY
) || {
    cat "$out/watcher.err" >&2
    echo "the watcher failed" >&2
    exit 1
}

median() { awk -v p="$1" '$1 == "median" && $2 == p { print $3 }' "$results"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

echo
echo "== results (milliseconds from process start to the first box)"
for p in "${programs[@]}"; do
    # The middle half of the runs shows how noisy the median is.
    spread=$(awk -v p="$p" '$1 == "run" && $3 == p { print $4 }' "$results" | sort -n |
        awk '{ v[NR] = $1 } END { printf "%.1f .. %.1f", v[int((NR + 3) / 4)], v[int((3 * NR + 3) / 4)] }')
    printf '  %-18s median %7s ms   middle half %s ms\n' "$p" "$(median "$p")" "$spread"
done
if ((have_lobbyfix)) && [[ -f $out/bare-manifest.exe ]]; then
    r=$(ratio "$(median lobbyfix.exe)" "$(median bare-manifest.exe)")
    verdict=$(awk -v r="$r" 'BEGIN { print (r <= 1.10 ? "within" : "OVER") }')
    echo "  lobbyfix / bare with manifest:      $r ($verdict the 1.10 target)"
fi
if [[ -f $out/bare-manifest.exe ]]; then
    echo "  bare with manifest / bare without: $(ratio "$(median bare-manifest.exe)" "$(median bare-plain.exe)")"
fi
if ((have_lobbyfix)); then
    echo
    echo "== lobbyfix.exe"
    echo "  size: $(stat -c %s "$exe") bytes"
    echo "  imports: $(/usr/bin/python3 -c 'import pefile, sys
print(" ".join(e.dll.decode() for e in pefile.PE(sys.argv[1]).DIRECTORY_ENTRY_IMPORT))' "$exe")"
fi
