#!/usr/bin/env bash
# The main job on the bundled sample data: builds the command line, makes the
# sample game folder from scratch, and first runs the modder's workflow on it:
# unpack the whole game, edit an image, a sound and a line of a script with
# standard tools, see the changes with status, repack them into a patch
# folder that holds only the changed archive, and check what came back.
# Then the converters one at a time: extracts its archive, decodes the images,
# sounds and scripts, changes one line of a script listing and encodes it,
# packs the folder back and shows that the rebuilt archive is identical;
# then changes pixels of an image, encodes it to BM2, packs and extracts
# again, and shows that the change is there and nothing else changed; and
# changes a sound with sox, encodes it, packs, extracts and decodes it again;
# last, encodes a sound saved as 44.1 kHz stereo float into its original's format.
#
#   scripts/demo.sh [FOLDER]      (default: build/demo)
set -eu
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native -j2 --target vidodide vidodide-samples >/dev/null
vid=$PWD/build/native/vidodide
samples=$PWD/build/native/vidodide-samples
demo=${1:-build/demo}
rm -rf "$demo"
mkdir -p "$demo"
cd "$demo"
root=$PWD
step() { printf '\n== %s\n' "$*"; }

step "Make the sample game folder (deterministic, nothing taken from the game)"
"$samples" .

step "Mod project: vidodide unpack game work"
mkdir -p project/game
cp data.fl3 ./*.bm2 ./*.wv5 ./*.ab project/game/
cd project
"$vid" unpack game work | tail -n 1
find work/edit -type f | sort

step "Edit with standard tools: a red square in title.png, chime.wav reversed, one line of scene01.txt"
convert work/edit/data_fl3/title.png -fill '#ff0000' -draw 'rectangle 60,50 69,54' work/edit/data_fl3/title.png
sox work/edit/data_fl3/chime.wav work/chime-reversed.wav reverse
mv work/chime-reversed.wav work/edit/data_fl3/chime.wav
sed -i 's/^Good morning\.$/Good evening, everyone./' work/edit/data_fl3/scene01.txt

step "vidodide status work"
"$vid" status work || true   # exit 1: something changed

step "vidodide repack work patch: only the changed archive, checked"
"$vid" repack work patch | grep -v '^Repacking data.fl3\|^Encoding\|^Verifying'
echo "the patch folder:"
find patch -type f

step "Check: extract the patched archive and decode the changed members again"
mkdir check && cp patch/data.fl3 check/
"$vid" extract-fl3 check/data.fl3 | tail -n 1
"$vid" decode-ab check/data_fl3/scene01.ab | tail -n 1
diff work/edit/data_fl3/scene01.txt check/data_fl3/scene01.txt && echo "scene01: the listing is the edited one"
"$vid" decode-bm2 --png check/data_fl3/title.bm2 | tail -n 1
printf 'title: pixels that differ from the edited picture: %s\n' \
    "$(compare -metric AE check/data_fl3/title.png work/edit/data_fl3/title.png null: 2>&1)"
for f in work/data_fl3/*; do
    name=${f##*/}
    case $name in title.bm2 | chime.wv5 | scene01.ab | _index.bin) continue ;; esac
    cmp "$f" "check/data_fl3/$name" || { echo "$name changed" >&2; exit 1; }
done
echo "every other member is byte-identical to the original's"
cd "$root"
rm -f ./*.bm2 ./*.wv5 ./*.ab   # keep only the archive: its members come out of it below

step "Extract FL3: vidodide extract-fl3 data.fl3"
"$vid" extract-fl3 data.fl3 | tail -n 3
ls -l data_fl3

# Work on copies, so that the member folder stays as extracted.
mkdir -p converted edited
cp data_fl3/*.bm2 data_fl3/*.wv5 data_fl3/*.ab converted/
cd converted
step "Decode BM2: every image to a bitmap"
"$vid" decode-bm2 *.bm2
if command -v identify >/dev/null; then identify ./*.bmP; else ls -l ./*.bmP; fi

step "Decode WV5: every sound to a WAV file"
"$vid" decode-wv5 *.wv5
for f in *.wAV; do
    if command -v soxi >/dev/null; then
        printf '%s: %s\n' "$f" "$(soxi "$f" | grep -E 'Channels|Sample Rate|Duration' | tr -s ' ' | paste -sd';')"
    else
        ls -l "$f"
    fi
done

step "Decode AB: every script to a listing"
"$vid" decode-ab *.ab
ls -l ./*.txt

step "Change one text line of scene01.txt and encode it to a new AB file"
sed 's/^Good morning\.$/Good evening, everyone./' scene01.txt >../edited/scene01.txt
diff scene01.txt ../edited/scene01.txt || true
"$vid" encode-ab ../edited/scene01.txt
printf 'scene01.ab: %s bytes; edited/scene01.ab: %s bytes\n' "$(stat -c %s scene01.ab)" "$(stat -c %s ../edited/scene01.ab)"
echo "Decoding the new script again: its listing differs from the original's in that line alone"
"$vid" decode-ab ../edited/scene01.ab >/dev/null
diff scene01.txt ../edited/scene01.txt || true
cd ..

step "Encode FL3: pack the folder back into an archive"
"$vid" encode-fl3 data_fl3/_index.bin rebuilt.fl3 | tail -n 1
if cmp data.fl3 rebuilt.fl3; then
    echo "rebuilt.fl3 is byte-identical to data.fl3 ($(stat -c %s data.fl3) bytes)"
else
    echo "rebuilt.fl3 differs from data.fl3" >&2
    exit 1
fi

step "Translate: export every text to a table, translate two rows with sed, import, pack, extract, decode"
rm -rf translated && cp -r data_fl3 translated
"$vid" export-text translated texts.csv || true   # opcodes.ab holds random bytes: one Alert for them
head -n 4 texts.csv
sed -e 's/^\(scene01\.ab,5,[^,]*,[^,]*,[^,]*,Good morning\.,\)\r$/\1おはようございます。\r/' \
    -e 's/^\(scene01\.ab,8,[^,]*,[^,]*,[^,]*,The window is open\.,\)\r$/\1窓が開いています。\r/' texts.csv >translated.csv
diff texts.csv translated.csv || true
"$vid" import-text translated translated.csv
rm translated/*.orig   # only the members go back
"$vid" encode-fl3 translated/_index.bin translated.fl3 | tail -n 1
rm -rf check-text && mkdir check-text && cp translated.fl3 check-text/ && cd check-text
"$vid" extract-fl3 translated.fl3 | tail -n 1
"$vid" decode-ab translated_fl3/scene01.ab | tail -n 1
echo "The decoded listing (code page 932, shown through iconv):"
iconv -f CP932 -t UTF-8 translated_fl3/scene01.txt | grep -B 3 -E 'おはよう|窓が'
cd "$root"

step "Images both ways: paint a red bar into title.bm2, encode it, pack the folder, extract again"
rm -rf modded_fl3 check
cp -r data_fl3 modded_fl3
"$vid" decode-bm2 modded_fl3/title.bm2 | tail -n 1
cp modded_fl3/title.bmP title-original.bmp
# 160 x 120 pixels, 24 bits, rows of 480 bytes after the 54 header bytes:
# 10 pixels (blue 0, green 0, red 255) in 5 rows, written in place.
for row in 50 51 52 53 54; do
    printf '\x00\x00\xff%.0s' $(seq 10) | dd of=modded_fl3/title.bmP bs=1 seek=$((54 + row * 480 + 60 * 3)) conv=notrunc status=none
done
cp modded_fl3/title.bmP title-edited.bmp
"$vid" encode-bm2 modded_fl3/title.bmP
ls -l modded_fl3/title.bm2 modded_fl3/title.bm2.orig
rm modded_fl3/title.bmP modded_fl3/title.bm2.orig   # only the members go back
"$vid" encode-fl3 modded_fl3/_index.bin modded.fl3 | tail -n 1
mkdir check && cp modded.fl3 check/ && cd check
"$vid" extract-fl3 modded.fl3 | tail -n 1
"$vid" decode-bm2 modded_fl3/title.bm2 | tail -n 1
if cmp modded_fl3/title.bmP ../title-edited.bmp; then
    echo "title.bmP from the new archive equals the edited bitmap;" \
         "$(cmp -l ../title-original.bmp modded_fl3/title.bmP | wc -l) bytes differ from the original, all in the bar"
else
    echo "the edited image did not survive the round trip" >&2
    exit 1
fi
for f in ../data_fl3/*; do
    name=${f##*/}
    case $name in title.bm2 | _index.bin) continue ;; esac   # the index holds the new size
    cmp "$f" "modded_fl3/$name" || { echo "$name changed" >&2; exit 1; }
done
echo "every other member is byte-identical to the original archive's"
cd "$root"

step "Change a sound: decode it, reverse it with sox, encode it, pack, extract and decode again"
rm -rf sound && mkdir sound && cp -r data_fl3 sound/
cd sound/data_fl3
sound=$(ls ./*.wv5 | head -n 1)
sound=${sound#./}
stem=${sound%.wv5}
"$vid" decode-wv5 "$sound"
sox "$stem.wAV" "$stem.wav" reverse
"$vid" encode-wv5 "$stem.wav"
printf '%s: %s bytes, kept as %s.orig (%s bytes)\n' "$sound" "$(stat -c %s "$sound")" "$sound" "$(stat -c %s "$sound.orig")"
cd ..
"$vid" encode-fl3 data_fl3/_index.bin sound.fl3 | tail -n 1
"$vid" extract-fl3 sound.fl3 | tail -n 1
"$vid" decode-wv5 "sound_fl3/$sound" | tail -n 1
# Samples (2 bytes each) that differ between the reversed WAV and the sound
# that came back: the sample bytes are the last ones of both files.
bytes=$(( $(stat -c %s "sound_fl3/$stem.wAV") - 46 ))
differ=$(cmp -l <(tail -c "$bytes" "data_fl3/$stem.wav") <(tail -c "$bytes" "sound_fl3/$stem.wAV") |
         awk '{print int(($1 - 1) / 2)}' | sort -u | wc -l)
echo "sound_fl3/$stem.wAV against the reversed $stem.wav: $differ of $((bytes / 2)) samples differ"

step "A sound as a sound editor saves it (44.1 kHz, stereo, 32-bit float), encoded into its original's format"
cd "$root/sound/data_fl3"
printf 'the original %s: %s\n' "$sound" "$(soxi "$stem.wAV" | grep -E 'Channels|Sample Rate' | tr -s ' ' | paste -sd';')"
sox "$stem.wAV" -r 44100 -c 2 -e floating-point -b 32 "$stem.wav"
printf 'the edited %s: %s\n' "$stem.wav" "$(soxi "$stem.wav" | grep -E 'Channels|Sample Rate|Precision' | tr -s ' ' | paste -sd';')"
"$vid" encode-wv5 "$stem.wav"
"$vid" decode-wv5 "$sound" | tail -n 1
printf 'encoded and decoded again: %s\n' "$(soxi "$stem.wAV" | grep -E 'Channels|Sample Rate|Duration' | tr -s ' ' | paste -sd';')"
cd "$root"
