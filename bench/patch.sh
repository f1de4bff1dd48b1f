#!/usr/bin/env bash
# The patch benchmark, on a generated game of four archives (MEMBERS
# members, MIB MiB):
# - repack --delta after one edited image against repack without it, each
#   into a new folder, with the delta's size against the image's;
# - with an image edited in two more archives, apply-patch of the patch of
#   three archives to a copy of the game, against `cp` of the patch's
#   archives over those of a second copy (what a player would do by hand).
#   Before each command, untimed, both copies are made the game's own again
#   (apply-patch --undo; cp of the game's archives), then `sync` and 5 s of
#   rest: ext4 frees the blocks of the files replaced in the background, and
#   a command run meanwhile spends seconds in the kernel (seen here: cp of
#   665 MB into a new folder 0.2 s or 2.4 s).
# Before each command, too, 2 GiB of memory are written and given back: this
# virtual machine hands out memory it never used before four times slower
# (a copy of 265 MB into the page cache: 550 ms, against 100 ms in memory
# used before). apply-patch writes new files beside the game's, which stay,
# and needs new pages; cp over the game's files takes those it frees, and
# would win by that alone.
# Prints each pair's times (ms), their ratio, the median ratio and the
# first command's peak memory.
#
#   bench/patch.sh [FOLDER]     (default /tmp; MEMBERS=4000 MIB=1150 RUNS=5)
set -eu
cd "$(dirname "$0")/.."
members=${MEMBERS:-4000}
mib=${MIB:-1150}
runs=${RUNS:-5}
bench_name=patch
. bench/native_tools.sh "$@"

"$samples" --mod-game game "$members" "$mib" >/dev/null
"$vid" unpack game work >/dev/null
edit() {  # the first image of the archive $1, mirrored
    local image
    image=$(find "work/edit/$1" -name '*.png' | sort | head -n 1)
    convert "$image" -flop "$image"
    echo "$image"
}
image=$(edit part1)
export vid

echo "== repack --delta of one archive after one edited image against repack"
printf 'game: %s; the archive: %s bytes\n' "$(du -sh game | cut -f1)" "$(stat -c %s game/part1/data.fl3)"
warm='python3 -c "b = bytes([1]) * (2 << 30)"'
pairs "repack --delta" repack 'exec "$vid" repack --delta work "delta$1"' 'exec "$vid" repack work "whole$1"' \
    "sync; sleep 5; $warm"
member=$(basename "${image%.png}").bm2
printf 'the delta: %s bytes; the edited image: %s bytes as a member\n' "$(stat -c %s delta1/part1/data.fl3.vcdiff)" \
    "$(stat -c %s "work/part1/data_fl3/$member")"

edit part0 >/dev/null
edit part2 >/dev/null
"$vid" repack work patch >/dev/null
printf 'patch: %s (%s)\n' "$(du -sh patch | cut -f1)" "$(cd patch && find . -name '*.fl3' | sort | tr '\n' ' ')"
cp -r game player
cp -r game player2
echo "== apply-patch of three archives against cp of them over the game's"
pairs apply-patch cp 'exec "$vid" apply-patch patch player' \
    'for p in part0 part1 part2; do cp "patch/$p/data.fl3" "player2/$p/data.fl3"; done' \
    '"$vid" apply-patch --undo patch player >/dev/null
     for p in part0 part1 part2; do cp "game/$p/data.fl3" "player2/$p/data.fl3"; done
     sync; sleep 5; '"$warm"
