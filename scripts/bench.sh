#!/usr/bin/env bash
# Builds the benchmarks (optimised) and runs each of them once, printing
# their figures. Benchmarks are never part of the tests. The Windows
# program's own benchmark, under Wine, is scripts/bench_gui.sh.
#
#   scripts/bench.sh [NAME...]     (BENCH_DIR=folder for the large scratch files; default /tmp)
set -eu
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset bench >/dev/null
cmake --build --preset bench -j2
scratch=$(mktemp -d "${BENCH_DIR:-/tmp}/vidodide-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
names=("$@")
for b in build/bench/bench/bench_*; do
    [ -x "$b" ] || continue
    name=$(basename "$b")
    if [ ${#names[@]} -gt 0 ] && [[ ! " ${names[*]} " == *" ${name#bench_} "* ]] && [[ ! " ${names[*]} " == *" $name "* ]]; then
        continue
    fi
    echo "==== $name"
    TMPDIR=$scratch "$b" "$scratch"
done
