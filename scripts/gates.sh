#!/usr/bin/env bash
# Quality gates of the project. Each gate builds what it needs in its own
# build folder and reports; the script ends non-zero when any gate failed.
# What each gate checks, and its settings: CONTRIBUTING.md, "Quality gates".
#
#   bash scripts/gates.sh              every gate, in the order of all_gates
#   bash scripts/gates.sh tidy format  only the named gates
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

jobs=$(nproc)
all_gates=(asan fuzz format tidy cppcheck coverage shell)
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
    check_links && ((bad == 0))
}

# Every relative link and #anchor of the Markdown files resolves, anchors in
# other files included; web links are not followed. The checker
# (remark-validate-links) comes from the npm registry, at the versions of
# scripts/links/package-lock.json, into the gate's own folder.
check_links() {
    local dir=build/gates-links files
    mkdir -p "$dir"
    if ! cmp -s scripts/links/package-lock.json "$dir/package-lock.json" || [[ ! -d $dir/node_modules ]]; then
        cp scripts/links/package.json scripts/links/package-lock.json "$dir/" &&
            (cd "$dir" && npm ci --no-audit --no-fund --silent) || return 1
    fi
    mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.md')
    if "$dir/node_modules/.bin/remark" --frail --quiet --no-stdout --no-color \
        -u "$PWD/$dir/node_modules/remark-validate-links/index.js=repository:false" "${files[@]}"; then
        echo "links: ${#files[@]} Markdown files checked, every relative link and anchor resolves"
    else
        echo "links: a relative link or anchor above does not resolve"
        return 1
    fi
}

# Folders whose sources clang-tidy and cppcheck check.
checked_folders=(src tests/support tests/unit tests/fuzz tests/contract tests/e2e)

# Source files under the given folders that a compile database builds,
# relative paths.
db_sources() { # database-folder folder...
    python3 - "$1/compile_commands.json" "${@:2}" <<'PY'
import json, os, sys
root = os.getcwd() + "/"
prefixes = tuple(root + folder.rstrip("/") + "/" for folder in sys.argv[2:])
files = {e["file"] for e in json.load(open(sys.argv[1]))}
for f in sorted(files):
    if f.startswith(prefixes):
        print(f[len(root):])
PY
}

# A copy of a build's compile database for clang-tidy, in <folder>/tidy/.
# clang accepts only UTF-8 as the execution character set, so the option
# that makes GCC compile the fixed texts into Windows-1251 is left out: it
# changes the bytes of string literals, nothing that a check looks at. So is
# GCC's -ffat-lto-objects (of the Windows release build), which clang 14
# does not know: it changes only what the object files hold.
tidy_database() { # build-folder
    python3 - "$1/compile_commands.json" "$1/tidy" <<'PY'
import json, os, re, sys
entries = json.load(open(sys.argv[1]))
gcc_only = re.compile(r"-fexec-charset=\S+|-ffat-lto-objects")
for e in entries:
    if "command" in e:
        e["command"] = re.sub(r"\s(?:" + gcc_only.pattern + r")(?=\s|$)", "", e["command"])
    if "arguments" in e:
        e["arguments"] = [a for a in e["arguments"] if not gcc_only.fullmatch(a)]
os.makedirs(sys.argv[2], exist_ok=True)
with open(os.path.join(sys.argv[2], "compile_commands.json"), "w") as out:
    json.dump(entries, out, indent=1)
PY
}

# clang-tidy over files, as many at a time as there are cores, each file's
# output written whole to the log. Fails when any run fails.
run_tidy() { # build-folder log [clang-tidy option...] -- file...
    local db=$1/tidy log=$2 out
    shift 2
    local opts=()
    while [[ $1 != -- ]]; do
        opts+=("$1")
        shift
    done
    shift
    (($#)) || return 0
    out=$(mktemp -d)
    # shellcheck disable=SC2016 # the inner bash expands them, one file each
    printf '%s\0' "$@" | xargs -0 -n 1 -P "$jobs" bash -c \
        'f=${!#}; clang-tidy "$@" >"$0/${f//\//_}.log" 2>&1' "$out" -p "$db" --quiet "${opts[@]}"
    local rc=$?
    cat "$out"/*.log >>"$log" 2>/dev/null
    rm -rf "$out"
    return $rc
}

# clang-tidy over three compile databases: the host build's (everything
# above the boundary, the in-memory Windows, the unit tests and the contract
# tests over it), the Windows build's and the fuzz build's for the fuzz
# targets. The Windows build is checked for the sources only it compiles
# (the real platform calls, the process entry, the e2e driver, the tests'
# machine over the real calls) and for every test it compiles: those are
# built there against MinGW's <windows.h>.
gate_tidy() {
    local host_db=build/gates-tidy-host win_db=build/gates-tidy-windows fuzz_db=build/gates-tidy-fuzz
    local no_rsp=-DCMAKE_CXX_USE_RESPONSE_FILE_FOR_INCLUDES=OFF log rc=0 db
    configure host -B "$host_db" "$no_rsp" || return 1
    configure windows -B "$win_db" "$no_rsp" || return 1
    configure fuzz -B "$fuzz_db" "$no_rsp" || return 1
    for db in "$host_db" "$win_db" "$fuzz_db"; do
        tidy_database "$db" || return 1
    done

    local host_files win_files fuzz_files
    mapfile -t host_files < <(db_sources "$host_db" "${checked_folders[@]}")
    mapfile -t win_files < <(comm -13 <(db_sources "$host_db" src) \
        <(db_sources "$win_db" "${checked_folders[@]}"))
    mapfile -t fuzz_files < <(comm -13 <(db_sources "$host_db" "${checked_folders[@]}") \
        <(db_sources "$fuzz_db" "${checked_folders[@]}"))
    # An empty list means a database could not be read, not a clean tree.
    if ((${#host_files[@]} == 0 || ${#win_files[@]} == 0 || ${#fuzz_files[@]} == 0)); then
        echo "tidy: a compile database names none of the checked files"
        return 1
    fi

    log=$(mktemp)
    run_tidy "$host_db" "$log" -- "${host_files[@]}" || rc=1
    # The database names the MinGW compiler; tell clang the target and
    # where MinGW's C++ headers are.
    local gccver inc=/usr/lib/gcc/i686-w64-mingw32
    gccver=$(i686-w64-mingw32-g++ -dumpversion)
    run_tidy "$win_db" "$log" \
        --extra-arg=--target=i686-w64-mingw32 \
        --extra-arg=-isystem"$inc/$gccver/include/c++" \
        --extra-arg=-isystem"$inc/$gccver/include/c++/i686-w64-mingw32" \
        --extra-arg=-Wno-unknown-warning-option \
        -- "${win_files[@]}" || rc=1
    run_tidy "$fuzz_db" "$log" -- "${fuzz_files[@]}" || rc=1

    # Findings, and also errors that name no file (a compile option clang
    # rejects), which fail the run just the same.
    local findings
    findings=$(grep -E '(^|: )(warning|error): ' "$log" | sort -u)
    [[ -n $findings ]] && echo "$findings"
    echo "tidy: ${#host_files[@]} host, ${#win_files[@]} Windows and ${#fuzz_files[@]} fuzz files" \
        "checked (${checked_folders[*]}), $(grep -c . <<<"$findings") findings"
    rm -f "$log"
    return $rc
}

# cppcheck's description of GoogleTest lets it read the test macros.
gate_cppcheck() {
    cppcheck --enable=warning,style,performance,portability --error-exitcode=1 \
        --inline-suppr --suppressions-list=cppcheck-suppressions.txt --library=googletest \
        --std=c++20 --language=c++ -I src -I tests/support -j"$jobs" -q \
        --template='{file}:{line}: {severity}: {message} [{id}]' "${checked_folders[@]}"
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

# Every shell script, tracked or new: the *.sh files, and any other whose
# first line starts it with bash or sh.
shell_scripts() {
    local f
    git ls-files --cached --others --exclude-standard | while IFS= read -r f; do
        [[ -f $f ]] || continue
        if [[ $f == *.sh ]] || head -n 1 "$f" | grep -qE '^#!.*[/ ](ba)?sh( |$)'; then
            echo "$f"
        fi
    done
}

gate_shell() {
    local files
    mapfile -t files < <(shell_scripts)
    if ((${#files[@]} == 0)); then
        echo "shellcheck: found no shell script, which means the list is wrong"
        return 1
    fi
    shellcheck "${files[@]}" || return 1
    echo "shellcheck: ${#files[@]} scripts checked (${files[*]}), no findings"
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
    gate_started=$SECONDS
    if "gate_$g"; then
        echo "==== gate $g: PASSED ($((SECONDS - gate_started)) s)"
        passed+=("$g")
    else
        echo "==== gate $g: FAILED ($((SECONDS - gate_started)) s)"
        failed+=("$g")
    fi
done

echo
echo "gates: ${#passed[@]} passed, ${#failed[@]} failed${failed:+ (${failed[*]})}"
((${#failed[@]} == 0))
