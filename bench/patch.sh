#!/usr/bin/env bash
# The patch benchmark: a generated game of four archives (MEMBERS members,
# MIB MiB) unpacked, one image edited in each of three archives and
# repacked; then apply-patch of that patch to a copy of the game, against
# `cp` of the patch's three archives over those of a second copy (what a
# player would do by hand). Before each command, untimed, both copies are
# made the game's own again (apply-patch --undo; cp of the game's
# archives), then `sync` and 5 s of rest: ext4 frees the blocks of the
# files replaced in the background, and a command run meanwhile spends
# seconds in the kernel (seen here: cp of 665 MB into a new folder 0.2 s
# or 2.4 s). Prints each pair's times (ms), their ratio, the median ratio
# and apply-patch's peak memory.
#
#   bench/patch.sh [FOLDER]     (default /tmp; MEMBERS=4000 MIB=1000 RUNS=5)
set -eu
cd "$(dirname "$0")/.."
members=${MEMBERS:-4000}
mib=${MIB:-1000}
runs=${RUNS:-5}
bench_name=patch
. bench/native_tools.sh "$@"

"$samples" --mod-game game "$members" "$mib" >/dev/null
"$vid" unpack game work >/dev/null
for part in part0 part1 part2; do
    image=$(find "work/edit/$part" -name '*.png' | sort | head -n 1)
    convert "$image" -flop "$image"
done
"$vid" repack work patch >/dev/null
printf 'game: %s; patch: %s (%s)\n' "$(du -sh game | cut -f1)" "$(du -sh patch | cut -f1)" \
    "$(cd patch && find . -name '*.fl3' | sort | tr '\n' ' ')"
cp -r game player
cp -r game player2
export vid

echo "== apply-patch of three archives against cp of them over the game's"
pairs apply-patch cp 'exec "$vid" apply-patch patch player' \
    'for p in part0 part1 part2; do cp "patch/$p/data.fl3" "player2/$p/data.fl3"; done' \
    '"$vid" apply-patch --undo patch player >/dev/null
     for p in part0 part1 part2; do cp "game/$p/data.fl3" "player2/$p/data.fl3"; done
     sync; sleep 5'
