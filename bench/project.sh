#!/usr/bin/env bash
# The mod project's benchmark: a generated game of four archives, MEMBERS
# members and MIB MiB (every eighth member an image, a sound or a script),
# unpacked against `cp -r` of what unpack wrote, then repacked after one
# edited image against `cp` of the one archive repack rewrites. Each pair
# is run RUNS times, the two commands of a pair one after the other on the
# same files, after `sync`; the script prints every pair's times (in ms),
# their ratio and the median ratio, and the peak memory (maximum resident
# set) of unpack and repack.
#
# Every run writes into new folders, removed only at the end (but for a last
# round of repack against cp into one folder emptied before each): ext4 passes
# over the inodes freed in the last few minutes when it makes new files, so
# a run just after the removal of 13,000 files spends seconds in the kernel
# (seen here: unpack 0.7 s on a fresh file system, 1.3-5.7 s after a few
# rounds of remove and unpack), and so would whichever command came second.
#
#   bench/project.sh [FOLDER]     (default /tmp; MEMBERS=6000 MIB=1250 RUNS=3 JOBS=cores)
set -eu
cd "$(dirname "$0")/.."
members=${MEMBERS:-6000}
mib=${MIB:-1250}
runs=${RUNS:-3}
jobs=${JOBS:-$(nproc)}
bench_name=project
. bench/native_tools.sh "$@"

"$samples" --mod-game game "$members" "$mib" >/dev/null
printf 'game: %s files, %s\n' "$(find game -type f | wc -l)" "$(du -sh game | cut -f1)"

export vid jobs

echo "== unpack -j $jobs against cp -r of its output"
pairs unpack "cp -r" 'exec "$vid" unpack -j "$jobs" game "work$1"' 'exec cp -r "work$1" "copy$1"'
printf 'work folder: %s files, %s, %s editable files\n' "$(find work1 -type f | wc -l)" "$(du -sh work1 | cut -f1)" \
    "$(find work1/edit -type f | wc -l)"

echo "== repack -j $jobs after one edited image against cp of the archive it rewrites"
image=$(find work1/edit/part1 -name '*.png' | sort | head -n 1)
convert "$image" -flop "$image"
pairs repack cp 'exec "$vid" repack -j "$jobs" work1 "out$1"' 'exec cp "out$1/part1/data.fl3" "copy$1.fl3"'
printf 'patch folder: %s\n' "$(cd out1 && find . -type f | sort | tr '\n' ' ')"

# The same repack again into one folder emptied before each run: the page
# cache holds the work folder and the game, and the new archive's pages
# take memory that the last run's archive gave back, as on a machine that
# has been up for a while (fresh memory costs this virtual machine more).
echo "== the same again, each into a folder emptied first (a warm page cache)"
"$vid" repack -j "$jobs" work1 warm >/dev/null
pairs repack cp 'exec "$vid" repack -j "$jobs" work1 warm' 'exec cp out1/part1/data.fl3 warm.fl3' 'rm -rf warm warm.fl3'
