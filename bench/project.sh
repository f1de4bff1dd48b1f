#!/usr/bin/env bash
# The mod project's benchmark: a generated game of four archives, MEMBERS
# members and MIB MiB (every eighth member an image, a sound or a script),
# unpacked against `cp -r` of what unpack wrote, then repacked after one
# edited image against `cp` of the one archive repack rewrites. Each pair
# is run RUNS times, the two commands of a pair one after the other on the
# same files, after `sync`; the script prints every pair's times, their
# ratio, and the peak memory (maximum resident set) of unpack and repack.
#
#   bench/project.sh [FOLDER]     (default /tmp; MEMBERS=6000 MIB=1250 RUNS=3 JOBS=cores)
set -eu
cd "$(dirname "$0")/.."
cmake --preset native >/dev/null
cmake --build --preset native -j2 --target vidodide vidodide-samples >/dev/null
vid=$PWD/build/native/vidodide
samples=$PWD/build/native/vidodide-samples
members=${MEMBERS:-6000}
mib=${MIB:-1250}
runs=${RUNS:-3}
jobs=${JOBS:-$(nproc)}
scratch=$(mktemp -d "${1:-/tmp}/vidodide-project-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

"$samples" --mod-game game "$members" "$mib" >/dev/null
printf 'game: %s files, %s\n' "$(find game -type f | wc -l)" "$(du -sh game | cut -f1)"

seconds() { /usr/bin/time -f '%e %M' -o "$1" "${@:2}" >/dev/null; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

echo "== unpack -j $jobs against cp -r of its output"
for r in $(seq "$runs"); do
    rm -rf work copy; sync
    seconds t.unpack "$vid" unpack -j "$jobs" game work
    sync
    seconds t.cp cp -r work copy
    read -r tu mu <t.unpack; read -r tc _ <t.cp
    printf 'run %s: unpack %ss, cp -r %ss, ratio %s, unpack peak %s MiB\n' "$r" "$tu" "$tc" "$(ratio "$tu" "$tc")" "$((mu / 1024))"
done
printf 'work folder: %s files, %s, %s editable files\n' "$(find work -type f | wc -l)" "$(du -sh work | cut -f1)" \
    "$(find work/edit -type f | wc -l)"
rm -rf copy

echo "== repack -j $jobs after one edited image against cp of the archive it rewrites"
image=$(find work/edit/part1 -name '*.png' | sort | head -n 1)
convert "$image" -flop "$image"
for r in $(seq "$runs"); do
    rm -rf out copy.fl3; sync
    seconds t.repack "$vid" repack -j "$jobs" work out
    sync
    seconds t.cp cp out/part1/data.fl3 copy.fl3
    read -r tr mr <t.repack; read -r tc _ <t.cp
    printf 'run %s: repack %ss, cp %ss, ratio %s, repack peak %s MiB\n' "$r" "$tr" "$tc" "$(ratio "$tr" "$tc")" "$((mr / 1024))"
done
printf 'patch folder: %s\n' "$(cd out && find . -type f | sort | tr '\n' ' ')"
