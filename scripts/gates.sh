#!/usr/bin/env bash
# Quality gates of the project. Each gate builds what it needs in its own
# build folder and reports; the script ends non-zero when any gate failed.
#
#   bash scripts/gates.sh              every gate, in the order below
#   bash scripts/gates.sh tidy format  only the named gates
#
# Gates:
#   asan      unit tests under AddressSanitizer + UndefinedBehaviorSanitizer
#   fuzz      every libFuzzer target, bounded in time, from its seed corpus
#   format    clang-format, no changes allowed, over src/ tests/ bench/
#   tidy      clang-tidy with the committed .clang-tidy over src/
#   cppcheck  cppcheck (warning, style, performance, portability) over src/
#   coverage  line coverage of src/ by the unit tests, at least 90 %
#
# Environment: FUZZ_SECONDS (default 20) bounds each fuzz target;
# COVERAGE_MIN (default 90) is the coverage floor in percent.
set -uo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
all_gates=(asan fuzz format tidy cppcheck coverage)
fuzz_seconds=${FUZZ_SECONDS:-20}
coverage_min=${COVERAGE_MIN:-90}

# C and C++ sources under the given folders, tracked or new (not ignored).
sources() {
    git ls-files --cached --others --exclude-standard -- "$@" |
        grep -E '\.(c|cc|cpp|h|hpp)$' | sort -u || true
}

configure() { # preset [extra cmake args]
    local preset=$1
    shift
    cmake --preset "$preset" "$@" >/dev/null
}

gate_asan() {
    configure host-asan || return 1
    cmake --build --preset host-asan -j"$jobs" || return 1
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --preset host-asan -j"$jobs" --no-tests=error
}

gate_fuzz() {
    configure fuzz -DLOBBYFIX_FUZZ_SECONDS="$fuzz_seconds" || return 1
    cmake --build --preset fuzz -j"$jobs" || return 1
    ctest --preset fuzz --no-tests=error
}

gate_format() {
    local files bad=0 f
    mapfile -t files < <(sources src tests bench)
    for f in "${files[@]}"; do
        if ! clang-format --dry-run --Werror "$f" 2>/dev/null; then
            echo "needs formatting: $f"
            bad=$((bad + 1))
        fi
    done
    echo "format: ${#files[@]} files checked, $bad need formatting"
    ((bad == 0))
}

# Source files under src/ that a compile database builds, relative paths.
db_sources() { # database-folder
    python3 - "$1/compile_commands.json" <<'PY'
import json, os, sys
root = os.getcwd() + "/"
files = {e["file"] for e in json.load(open(sys.argv[1]))}
for f in sorted(files):
    if f.startswith(root + "src/"):
        print(f[len(root):])
PY
}

# A copy of a build's compile database for clang-tidy, in <folder>/tidy/.
# clang accepts only UTF-8 as the execution character set, so the option
# that makes GCC compile the fixed texts into Windows-1251 is left out: it
# changes the bytes of string literals, nothing that a check looks at.
tidy_database() { # build-folder
    python3 - "$1/compile_commands.json" "$1/tidy" <<'PY'
import json, os, re, sys
entries = json.load(open(sys.argv[1]))
for e in entries:
    if "command" in e:
        e["command"] = re.sub(r"\s-fexec-charset=\S+", "", e["command"])
    if "arguments" in e:
        e["arguments"] = [a for a in e["arguments"] if not a.startswith("-fexec-charset=")]
os.makedirs(sys.argv[2], exist_ok=True)
with open(os.path.join(sys.argv[2], "compile_commands.json"), "w") as out:
    json.dump(entries, out, indent=1)
PY
}

# clang-tidy over the host build's compile database (everything above the
# boundary and the model), then over the Windows build's database for the
# files only that build compiles (the real platform calls and the process
# entry), which need <windows.h> from MinGW.
gate_tidy() {
    local host_db=build/gates-tidy-host win_db=build/gates-tidy-windows log rc=0
    local no_rsp=-DCMAKE_CXX_USE_RESPONSE_FILE_FOR_INCLUDES=OFF
    configure host -B "$host_db" "$no_rsp" || return 1
    configure windows -B "$win_db" "$no_rsp" || return 1
    tidy_database "$host_db" || return 1
    tidy_database "$win_db" || return 1
    log=$(mktemp)

    local host_files win_files
    mapfile -t host_files < <(db_sources "$host_db")
    mapfile -t win_files < <(comm -13 <(db_sources "$host_db") <(db_sources "$win_db"))

    if ((${#host_files[@]})); then
        clang-tidy -p "$host_db/tidy" --quiet "${host_files[@]}" >>"$log" 2>&1 || rc=1
    fi
    if ((${#win_files[@]})); then
        # The database names the MinGW compiler; tell clang the target and
        # where MinGW's C++ headers are.
        local gccver inc=/usr/lib/gcc/i686-w64-mingw32
        gccver=$(i686-w64-mingw32-g++ -dumpversion)
        clang-tidy -p "$win_db/tidy" --quiet \
            --extra-arg=--target=i686-w64-mingw32 \
            --extra-arg=-isystem"$inc/$gccver/include/c++" \
            --extra-arg=-isystem"$inc/$gccver/include/c++/i686-w64-mingw32" \
            --extra-arg=-Wno-unknown-warning-option \
            "${win_files[@]}" >>"$log" 2>&1 || rc=1
    fi
    # Findings, and also errors that name no file (a compile option clang
    # rejects), which fail the run just the same.
    local findings
    findings=$(grep -E '(^|: )(warning|error): ' "$log" | sort -u)
    [[ -n $findings ]] && echo "$findings"
    echo "tidy: ${#host_files[@]} host and ${#win_files[@]} Windows files checked," \
        "$(grep -c . <<<"$findings") findings"
    rm -f "$log"
    return $rc
}

gate_cppcheck() {
    cppcheck --enable=warning,style,performance,portability --error-exitcode=1 \
        --inline-suppr --suppressions-list=cppcheck-suppressions.txt \
        --std=c++20 --language=c++ -I src -j"$jobs" -q \
        --template='{file}:{line}: {severity}: {message} [{id}]' src/
}

gate_coverage() {
    local dir=build/host-coverage
    configure host-coverage || return 1
    cmake --build --preset host-coverage -j"$jobs" || return 1
    find "$dir" -name '*.gcda' -delete
    ctest --preset host-coverage -j"$jobs" --no-tests=error || return 1
    gcovr --root . --filter 'src/' --exclude 'src/platform/win32/' \
        --html-details "$dir/coverage.html" --txt - --print-summary \
        --fail-under-line "$coverage_min" "$dir"
}

gates=("$@")
if ((${#gates[@]} == 0)); then
    gates=("${all_gates[@]}")
fi
for g in "${gates[@]}"; do
    if ! declare -F "gate_$g" >/dev/null; then
        echo "unknown gate: $g (known: ${all_gates[*]})" >&2
        exit 2
    fi
done

passed=()
failed=()
for g in "${gates[@]}"; do
    echo
    echo "==== gate: $g"
    if "gate_$g"; then
        echo "==== gate $g: PASSED"
        passed+=("$g")
    else
        echo "==== gate $g: FAILED"
        failed+=("$g")
    fi
done

echo
echo "gates: ${#passed[@]} passed, ${#failed[@]} failed${failed:+ (${failed[*]})}"
((${#failed[@]} == 0))
