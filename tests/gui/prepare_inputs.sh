#!/usr/bin/env bash
# Lays out the inputs of the GUI scenarios in WORK: WORK/gui for the program
# under test, WORK/ref with the same files converted by the command line.
#
#   prepare_inputs.sh NATIVE_BUILD WORK
set -eu
native=$(cd "$1" && pwd)
work=$2
cli=$native/vidodide
mkdir -p "$work/samples" "$work/gui" "$work/ref"
"$native/vidodide-samples" "$work/samples" >/dev/null
cp "$work/samples/data.fl3" "$work/gui/"
cp "$work/samples/data.fl3" "$work/ref/"
(cd "$work/ref" && "$cli" extract-fl3 data.fl3 >/dev/null)
members=$work/ref/data_fl3

# One folder per batch command, the same files in gui/ and ref/.
for kind in bm2 wv5 ab; do
    mkdir -p "$work/gui/$kind" "$work/ref/$kind"
    for f in "$members"/*."$kind"; do
        [ -e "$f" ] || continue
        cp "$f" "$work/gui/$kind/"
        cp "$f" "$work/ref/$kind/"
    done
done
# Decode WV5's small selection buffer: names long enough that the quoted list
# of all of them needs more than 260 bytes.
mkdir -p "$work/gui/wv5many" "$work/ref/wv5many"
first_wv5=$(ls "$members"/*.wv5 | head -1)
for i in 01 02 03 04 05 06 07 08 09 10; do
    cp "$first_wv5" "$work/gui/wv5many/a_sound_with_a_rather_long_name_$i.wv5"
    cp "$first_wv5" "$work/ref/wv5many/a_sound_with_a_rather_long_name_$i.wv5"
done
(cd "$work/ref/bm2" && "$cli" decode-bm2 *.bm2 >/dev/null 2>&1) || true
# The console program's wildcards: the BM2 images in a folder of their own.
mkdir -p "$work/gui/glob"
cp "$work/gui/bm2/"*.bm2 "$work/gui/glob/"
# A selection of 600 files of 33-character names: far more than the
# batch commands' 10,240-byte selection buffer holds.
mkdir -p "$work/gui/bm2many" "$work/ref/bm2many"
for i in $(seq -w 1 600); do
    cp "$members/coin32.bm2" "$work/gui/bm2many/an_image_with_a_long_name_$i.bm2"
done
cp "$work/gui/bm2many/an_image_with_a_long_name_001.bm2" "$work/ref/bm2many/"
(cd "$work/ref/bm2many" && "$cli" decode-bm2 *.bm2 >/dev/null 2>&1) || true
# Encode BM2: the images as PNG beside their originals, and one without.
mkdir -p "$work/gui/bm2enc" "$work/ref/bm2enc"
cp "$members"/*.bm2 "$work/ref/bm2enc/"
(cd "$work/ref/bm2enc" && "$cli" decode-bm2 --png *.bm2 >/dev/null 2>&1) || true
first_bm2=$(cd "$work/ref/bm2enc" && ls *.bm2 | head -1)
cp "$work/ref/bm2enc/${first_bm2%.*}.png" "$work/ref/bm2enc/fresh.png"
cp "$work/ref/bm2enc/"* "$work/gui/bm2enc/"
(cd "$work/ref/bm2enc" && "$cli" encode-bm2 "${first_bm2%.*}.png" fresh.png >/dev/null 2>&1) || true
(cd "$work/ref/wv5" && "$cli" decode-wv5 *.wv5 >/dev/null 2>&1) || true
(cd "$work/ref/wv5many" && "$cli" decode-wv5 *.wv5 >/dev/null 2>&1) || true
# Encode WV5: the decoded sounds as .wav files beside their original WV5
# files, and a WAV file cut short (no WV5 file may appear for it).
mkdir -p "$work/gui/wv5enc" "$work/ref/wv5enc"
for f in "$work/ref/wv5/"*.wAV; do
    stem=$(basename "$f" .wAV)
    for side in gui ref; do
        cp "$f" "$work/$side/wv5enc/$stem.wav"
        cp "$work/ref/wv5/$stem.wv5" "$work/$side/wv5enc/"
    done
done
for side in gui ref; do head -c 60 "$f" >"$work/$side/wv5enc/broken.wav"; done
(cd "$work/ref/wv5enc" && "$cli" encode-wv5 *.wav >/dev/null 2>&1) || true
# Listings and the listing view of each script, then the listings as the
# GUI's Encode AB inputs (in a folder of their own, without AB files).
(cd "$work/ref/ab" && for f in *.ab; do "$cli" decode-ab --tree "$f" 2>/dev/null | sed 1d | head -n -2 >"${f%.ab}.tree" || true; done)
mkdir -p "$work/gui/abenc" "$work/ref/abenc"
cp "$work/ref/ab/"*.txt "$work/gui/abenc/"
cp "$work/ref/ab/"*.txt "$work/ref/abenc/"
(cd "$work/ref/abenc" && "$cli" encode-ab *.txt >/dev/null 2>&1) || true
# Decode BM2 to PNG, and a sound as editors save it (44.1 kHz stereo float)
# over an original of 22,050 Hz mono that holds no sound yet.
for side in gui ref; do
    mkdir -p "$work/$side/convert"
    cp "$members"/*.bm2 "$work/$side/convert/"
    sox -n -r 44100 -c 2 -e float -b 32 "$work/$side/convert/voice.wav" synth 0.5 sine 440 vol 0.5
    printf 'KEEP\001\000\042\126\000\000\000\000\000\000\000\000\000\000' >"$work/$side/convert/voice.wv5"
done
(cd "$work/ref/convert" && "$cli" decode-bm2 --png *.bm2 >/dev/null 2>&1) || true
# Export Texts and Import Texts: two scripts; the command line's table, a
# table with one row translated, and the scripts it imported into.
mkdir -p "$work/gui/texts" "$work/ref/texts"
for f in scene01.ab voices.ab; do
    cp "$members/$f" "$work/gui/texts/"
    cp "$members/$f" "$work/ref/texts/"
done
"$cli" export-text "$work/ref/texts" "$work/ref/texts.csv" | tail -n 1 >"$work/ref/texts-export.status"
sed 's/^\(scene01\.ab,5,[^,]*,[^,]*,[^,]*,Good morning\.,\)\r$/\1おはようございます。\r/' "$work/ref/texts.csv" \
    >"$work/gui/texts/translated.csv"
# The browser: a folder of an archive, a copy of it in a sub-folder and a
# loose image; the command line's listing of the archive.
mkdir -p "$work/gui/browse/sub"
cp "$work/samples/data.fl3" "$work/gui/browse/"
cp "$work/samples/data.fl3" "$work/gui/browse/sub/copy.fl3"
cp "$members/title.bm2" "$work/gui/browse/"
(cd "$work/gui/browse" && "$cli" list-fl3 data.fl3 >"$work/ref/browse.list")
(cd "$work/gui/browse" && "$cli" find-text . window >"$work/ref/browse.find")
# A work folder of it, one member file replaced, and what status says.
"$cli" unpack "$work/gui/browse" "$work/gui/browsework" >/dev/null
printf 'replaced' >"$work/gui/browsework/data_fl3/readme.txt"
"$cli" status "$work/gui/browsework" >"$work/ref/browsework.status" || [ $? = 1 ]  # 1: a change
# A translation that code page 932 cannot hold: refused, the character quoted.
sed 's/^\(scene01\.ab,5,[^,]*,[^,]*,[^,]*,Good morning\.,\)\r$/\1Café\r/' "$work/ref/texts.csv" \
    >"$work/gui/texts/emoji.csv"
cp -r "$work/ref/texts" "$work/ref/texts-imported"
"$cli" import-text "$work/ref/texts-imported" "$work/gui/texts/translated.csv" | tail -n 1 >"$work/ref/texts-import.status"
# Unpack Game and Repack Game: the sample game unpacked by the command line,
# one member replaced in its work folder and repacked; a file of 3.5 GiB
# (with no blocks on disk) to add to it, so that a repack lasts long enough
# to be stopped inside it after the checks made while it runs (of 2 GiB, it
# was written in about 5 s under Wine, and the checks sometimes took
# longer); a larger game for a stop half-way; empty folders for the GUI.
"$native/vidodide-samples" --game "$work/gui/game" >/dev/null
"$native/vidodide-samples" --mod-game "$work/gui/biggame" 8000 40 >/dev/null
truncate -s 3584M "$work/gui/zz_big.dat"
mkdir -p "$work/gui/gamework" "$work/gui/gameout" "$work/gui/gameout2" "$work/gui/bigwork" "$work/gui/bigwork2" \
    "$work/ref/gameout"
"$cli" unpack -j 1 "$work/gui/game" "$work/ref/gamework" 2>"$work/ref/unpack.alerts" | tail -n 1 >"$work/ref/unpack.status"
printf 'A readme of the mod.\r\n' >"$work/gui/readme.txt"
cp -a "$work/ref/gamework" "$work/ref/gamework-edited"
cp "$work/gui/readme.txt" "$work/ref/gamework-edited/data_fl3/readme.txt"
"$cli" repack -j 1 "$work/ref/gamework-edited" "$work/ref/gameout" >/dev/null
cp "$work/gui/game/data.fl3" "$work/ref/game-data.fl3"  # the game's own, for Apply Patch and Undo Patch
