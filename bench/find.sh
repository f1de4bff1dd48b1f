#!/usr/bin/env bash
# find-text's benchmark (not a test): a generated game of four archives,
# MEMBERS members and MIB MiB (every eighth member an image, a sound or a
# script), searched RUNS times for a text that every script holds and for
# one that none does; prints each run's time (in ms) and peak memory
# (maximum resident set), and the hits. Target: within 2 s for a game of
# 1 GB, memory within 64 MiB and what one script holds.
#
#   bench/find.sh [FOLDER]     (default /tmp; MEMBERS=6000 MIB=1024 RUNS=3)
set -eu
cd "$(dirname "$0")/.."
runs=${RUNS:-3}
bench_name=find
. bench/native_tools.sh "$@"

"$samples" --mod-game game "${MEMBERS:-6000}" "${MIB:-1024}" >/dev/null
printf 'game: %s files, %s\n' "$(find game -type f | wc -l)" "$(du -sh game | cut -f1)"
sync
for what in e zzqqzz; do
    for r in $(seq "$runs"); do
        t0=$EPOCHREALTIME
        /usr/bin/time -f '%M' -o mem "$vid" find-text game "$what" >hits
        t1=$EPOCHREALTIME
        awk -v a="$t0" -v b="$t1" -v m="$(cat mem)" -v w="$what" -v r="$r" -v s="$(tail -n 1 hits)" \
            'BEGIN { printf "find-text %s, run %s: %.0f ms, peak %.1f MiB; %s\n", w, r, (b - a) * 1000, m / 1024, s }'
    done
done
