#!/usr/bin/env bash
# Builds everything and runs every test: unit and command-line tests, the
# same under AddressSanitizer and UndefinedBehaviorSanitizer, each fuzz
# target for a bounded time, and the Windows program under Wine.
#
#   scripts/test.sh            (FUZZ_SECONDS=N to change the fuzzing time per target)
set -u
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || { echo "could not install the build dependencies" >&2; exit 1; }

fuzz_seconds=${FUZZ_SECONDS:-12}
total_pass=0
total_fail=0
failed_stages=()

stage() { printf '\n==== %s (%s) ====\n' "$*" "$(date +%T)"; }
count_ctest() {  # adds the counts of a ctest log
    local log=$1 n f
    n=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2/p' "$log" | tail -1)
    f=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
    total_pass=$((total_pass + ${n:-0} - ${f:-0}))
    total_fail=$((total_fail + ${f:-1}))
}
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

for preset in native sanitize; do
    stage "$preset build and tests"
    if cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j2; then
        ctest --preset "$preset" -j2 2>&1 | tee "$logs/$preset.log"
        count_ctest "$logs/$preset.log"
        grep -q ' 0 tests failed' "$logs/$preset.log" || failed_stages+=("$preset tests")
    else
        failed_stages+=("$preset build")
        total_fail=$((total_fail + 1))
    fi
done

stage "fuzz targets: build (they run beside the Wine tests, ${fuzz_seconds}s each)"
# Each target runs for a fixed time, one after the other, while the Wine
# tests go on (those mostly wait on the virtual display; the Windows build
# before them needs both cores); the results are printed after them.
fuzz_all() {
    local target name
    for target in build/fuzz/fuzz/fuzz_*; do
        [ -x "$target" ] || continue
        name=$(basename "$target")
        # The seeds of fuzz/corpus are copied into the build folder, where the
        # fuzzer keeps what it finds: nothing is written into the repository.
        mkdir -p "build/fuzz/corpus/$name" build/fuzz/artifacts
        [ -d "fuzz/corpus/$name" ] && cp -n "fuzz/corpus/$name"/* "build/fuzz/corpus/$name"/ 2>/dev/null
        if "$target" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
            -artifact_prefix="build/fuzz/artifacts/$name-" "build/fuzz/corpus/$name" >"$logs/$name.log" 2>&1; then
            echo "ok - $name ($(grep -o 'stat::number_of_executed_units: [0-9]*' "$logs/$name.log" | awk '{print $2}') runs)"
        else
            echo "FAIL - $name"; tail -40 "$logs/$name.log"
        fi
    done
}
fuzz_pid= fuzz_built=
if cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j2; then
    fuzz_built=1
else
    failed_stages+=("fuzz build"); total_fail=$((total_fail + 1))
fi

stage "Windows build (MinGW-w64), GUI and console tests under Wine"
mingw_built=
cmake --preset mingw >/dev/null && cmake --build --preset mingw -j2 && mingw_built=1
if [ -n "$fuzz_built" ]; then
    fuzz_all >"$logs/fuzz.out" 2>&1 &
    fuzz_pid=$!
    echo "the fuzz targets run in the background; their results follow the Wine tests"
fi
if [ -n "$mingw_built" ]; then
    if ! bash tests/gui/run_gui_tests.sh build/mingw build/native | tee "$logs/gui.log" ||
        ! grep -q '^gui: [0-9]* passed, 0 failed$' "$logs/gui.log"; then
        # Input sent to a real desktop can be lost under heavy load: a failure
        # must repeat in a second, fresh run to count.
        echo "GUI tests failed; running them once more in a fresh prefix"
        bash tests/gui/run_gui_tests.sh build/mingw build/native | tee "$logs/gui.log"
    fi
    p=$(sed -n 's/^gui: \([0-9]*\) passed, \([0-9]*\) failed$/\1/p' "$logs/gui.log")
    f=$(sed -n 's/^gui: \([0-9]*\) passed, \([0-9]*\) failed$/\2/p' "$logs/gui.log")
    total_pass=$((total_pass + ${p:-0}))
    total_fail=$((total_fail + ${f:-1}))
    [ "${f:-1}" = 0 ] && [ "${p:-0}" -gt 0 ] || failed_stages+=("gui tests")
    bash tests/gui/run_console_tests.sh build/mingw build/native | tee "$logs/console.log"
    p=$(sed -n 's/^console: \([0-9]*\) passed, \([0-9]*\) failed$/\1/p' "$logs/console.log")
    f=$(sed -n 's/^console: \([0-9]*\) passed, \([0-9]*\) failed$/\2/p' "$logs/console.log")
    total_pass=$((total_pass + ${p:-0}))
    total_fail=$((total_fail + ${f:-1}))
    [ "${f:-1}" = 0 ] && [ "${p:-0}" -gt 0 ] || failed_stages+=("console tests under Wine")
else
    failed_stages+=("mingw build"); total_fail=$((total_fail + 1))
fi

if [ -n "$fuzz_pid" ]; then
    stage "fuzz targets, ${fuzz_seconds}s each: results"
    wait "$fuzz_pid"
    cat "$logs/fuzz.out"
    total_pass=$((total_pass + $(grep -c '^ok - ' "$logs/fuzz.out")))
    total_fail=$((total_fail + $(grep -c '^FAIL - ' "$logs/fuzz.out")))
    for name in $(sed -n 's/^FAIL - //p' "$logs/fuzz.out"); do failed_stages+=("$name"); done
fi

stage "summary"
[ ${#failed_stages[@]} -eq 0 ] || echo "failed: ${failed_stages[*]}"
echo "all: $total_pass passed, $total_fail failed"
[ ${#failed_stages[@]} -eq 0 ] && [ "$total_fail" = 0 ]
