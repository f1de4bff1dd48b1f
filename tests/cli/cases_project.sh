# Mod projects: list-fl3, extract-fl3 of several archives, and a generated
# game through unpack, status, edits with standard tools, repack and the
# check of what repack wrote.
pj=$work/project
mkdir -p "$pj"
cd "$pj"

# A two-member archive written byte by byte: "abc" as a.txt, b empty.
printf 'FL3.0\0\0\0\034\0\024\0\0\0\037\0\0\0\002\0\0\0\0\0\0\0\0\0abc\003\0\0\0\005a.txt\0\0\0\0\001b\377\377\377\377' >t.fl3
check "list-fl3: members and totals" 0 "          size         offset  t.fl3
             3             28  a.txt
             0             31  b
t.fl3: 2 members, 3 bytes" "" "$cli" list-fl3 t.fl3
printf 'FL3.0\0\0\0\034\0\012\0\0\0\035\0\0\0\001\0\0\0\0\0\0\0\0\0x\001\0\0\0\001a\377\377\377\377' >one.fl3
printf 'FL3.' >cut.fl3
cut_alert="Alert: cut.fl3 is not an FL3 archive: it is shorter than the 28 bytes of an FL3 header."
check "list-fl3: a damaged archive among good ones" 1 "          size         offset  t.fl3
             3             28  a.txt
             0             31  b
t.fl3: 2 members, 3 bytes
          size         offset  one.fl3
             1             28  a
one.fl3: 1 member, 1 byte
Total: 3 archives, 3 members, 4 bytes" "$cut_alert" "$cli" list-fl3 t.fl3 cut.fl3 one.fl3
# list-fl3 --json ARCHIVE...: each archive's path, member count, and problem or
# members (name:size:offset); the total count and bytes.
list_json() {
    set -o pipefail
    "$cli" list-fl3 --json "$@" | python3 -c 'import json, sys; j = json.load(sys.stdin); print("|".join(" ".join([a["path"],
        str(a["member_count"]), a.get("problem", "")[:30]] + ["%s:%d:%d" % (m["name"], m["size"], m["offset"]) for m in a["members"]])
        for a in j["archives"]), j["member_count"], j["member_bytes"])'
}
check "list-fl3 --json: a damaged archive among good ones" 1 "t.fl3 2  a.txt:3:28 b:0:31|cut.fl3 0 cut.fl3 is not an FL3 archive:|one.fl3 1  a:1:28 3 4" \
    "$cut_alert" list_json t.fl3 cut.fl3 one.fl3
check "extract-fl3: a damaged archive among good ones" 1 "Extracting: 1 of 3 files failed" "$cut_alert" \
    last_line "$cli" extract-fl3 t.fl3 cut.fl3 one.fl3

cp t.fl3 u.fl3
check "extract-fl3 of two archives, each whole" 0 "Extracting OK" "" \
    same "t_fl3/a.txt=u_fl3/a.txt t_fl3/_index.bin=u_fl3/_index.bin" last_line "$cli" extract-fl3 t.fl3 u.fl3

# An editable file's path is held to the 259 characters of every other
# path: a member whose listing's path would be 260 or more is kept without
# one. One member s.ab (an opcode outside the table) in an archive whose
# name makes the member folder F characters long: the member path is
# "w/F/s.ab" (F + 7), the listing's "w/edit/F/s.txt" (F + 13).
for f in 246 247; do
    name=$(head -c $((f - 4)) /dev/zero | tr '\0' A).fl3
    rm -rf long$f && mkdir long$f
    printf 'FL3.0\0\0\0\034\0\015\0\0\0\036\0\0\0\001\0\0\0\0\0\0\0\0\0\377\177\002\0\0\0\004s.ab\377\377\377\377' >"long$f/$name"
done
folder=$(head -c 242 /dev/zero | tr '\0' A)_fl3
cd long246
check "unpack: an editable file's path of 259 characters is written" 0 "Unpacking OK: 1 archive, 1 file, 1 editable file in w/edit" "" \
    present "w/edit/${folder}/s.txt" last_line "$cli" unpack . w
folder=$(head -c 243 /dev/zero | tr '\0' A)_fl3
cd ../long247
check "unpack: an editable file's path of 260 characters is not" 1 "Unpacking: 1 archive, 1 file, 0 editable files, 1 not extracted or not decoded" \
    "Alert: w/edit/${folder}/s.txt
Path too long: more than 259 characters. The member is kept as it is, without an editable file." \
    present "w/${folder}/s.ab" absent "w/edit/${folder}" last_line "$cli" unpack . w
cd "$pj"
"$samples" --game game >/dev/null
game_hashes=$(cd game && find . -type f | sort | xargs sha256sum)
check "unpack: two members do not decode, the run goes on" 1 \
    "Unpacking: 2 archives, 34 files, 21 editable files in work/edit, 2 not extracted or not decoded" \
    "Alert: work/sub/more_fl3/broken.bm2 does not decode: its header announces 11257 bytes of packed data, the file holds 5620. It is kept as it is.
Alert: work/sub/more_fl3/short.wv5 does not decode: it ends inside its 18-byte header. It is kept as it is." \
    last_line "$cli" unpack game work
check "unpack: member folders and the edit tree" 0 "work/edit/sub/more_fl3/Logo.png
work/edit/sub/more_fl3/intro.txt
work/edit/sub/more_fl3/logo~2.png
work/sub/more_fl3/Logo.bm2
work/sub/more_fl3/_index.bin
work/sub/more_fl3/broken.bm2
work/sub/more_fl3/credits.dat
work/sub/more_fl3/intro.ab
work/sub/more_fl3/intro.txt
work/sub/more_fl3/short.wv5" "" sh -c "find work/sub work/edit/sub -type f | LC_ALL=C sort"
check "unpack: the text member is not the listing" 1 "" "" cmp -s work/sub/more_fl3/intro.txt work/edit/sub/more_fl3/intro.txt
mkdir j1 j4
check "unpack -j 1 and -j 4: the same work folders and texts" 0 "" "" bash -c "
    (cd j1 && '$cli' unpack -j 1 ../game w >out 2>err); (cd j4 && '$cli' unpack -j4 ../game w >out 2>err)
    diff -r --exclude=vidodide-project.stamps j1 j4"
check "unpack refuses a work folder that is not empty" 1 "" \
    "Alert: work is not empty: unpack needs an empty or new work folder" "$cli" unpack game work
mkdir -p game2/Edit && cp game/scene01.ab game2/Edit/ && cp game/scene01.ab game2/
check "unpack leaves out a game folder named edit" 1 "Unpacking: 0 archives, 1 file, 1 editable file in work2/edit, 1 not extracted or not decoded
edit/scene01.txt
scene01.ab" \
    "Alert: 1 file of the game's folder \"edit\" is not unpacked: the work folder gives that name to its tree of editable files" \
    bash -c "set -o pipefail; '$cli' unpack game2 work2 | tail -n 1; r=\$?; cd work2 && find . -type f ! -name 'vidodide-project*' | cut -c3- | sort; exit \$r"
check "status right after unpack" 0 "Status: nothing changed since unpack" "" "$cli" status work
check "repack with nothing changed writes nothing" 0 "Repacking: nothing changed since unpack, nothing written" "" \
    absent none "$cli" repack work none

# Edits with standard tools: a line, a picture, a sound; a member replaced,
# one added, one deleted (all in data.fl3: sub/more.fl3 stays as it was).
e=work/edit/data_fl3
sed -i 's/^Good morning\.$/Good evening./' $e/scene01.txt
cp $e/scene01.txt edited-scene01.txt
convert $e/title.png -fill '#ff0000' -draw 'rectangle 10,10 19,14' $e/title.png
sox $e/chime.wav $e/chime-r.wav reverse && mv $e/chime-r.wav $e/chime.wav
printf 'new table' >work/data_fl3/table.bin
printf 'added' >work/data_fl3/zz_new.dat
rm work/data_fl3/one.bin
check "status lists each change" 1 "Deleted: work/data_fl3/one.bin (the original's bytes are kept)
Replaced: work/data_fl3/table.bin (packed as it is into data.fl3:table.bin)
Edited: work/edit/data_fl3/title.png (encoded back into data.fl3:title.bm2)
Edited: work/edit/data_fl3/chime.wav (encoded back into data.fl3:chime.wv5)
Edited: work/edit/data_fl3/scene01.txt (encoded back into data.fl3:scene01.ab)
Added: work/data_fl3/zz_new.dat (appended to data.fl3)
Status: 6 changes since unpack" "" "$cli" status work
check "repack writes only the changed archive" 0 "chime.wv5 in data.fl3: sound exact
Repacking OK: 1 file written to out
out/data.fl3
out/vidodide-patch.json" "" bash -c "set -o pipefail; '$cli' repack work out | tail -n 2 && find out -type f | sort"
check "the game folder is unchanged" 0 "$game_hashes" "" sh -c "cd game && find . -type f | sort | xargs sha256sum"
# The patch's description: each file's original and result, by the sizes
# and XXH3-128 hashes that Debian's xxhsum gives.
version() { printf '{\n    "size": %s,\n    "hash": "%s"\n   }' "$(stat -c %s "$1")" "$(xxhsum -H2 "$1" 2>/dev/null | cut -d' ' -f1)"; }
check "vidodide-patch.json names the original and the result" 0 "" "" cmp out/vidodide-patch.json <(printf \
    '{\n "vidodide_patch": 1,\n "hash": "XXH3-128",\n "files": [\n  {\n   "path": "data.fl3",\n   "original": %s,\n   "result": %s\n  }\n ]\n}\n' \
    "$(version game/data.fl3)" "$(version out/data.fl3)")
# A player's copy of the game, patched, patched again, taken back.
cp -a game player
check "apply-patch: the archive is the patch's, the game's own kept" 0 \
    "Patching OK: 1 file patched in player (each original kept beside it as .orig)" "" \
    same "player/data.fl3=out/data.fl3 player/data.fl3.orig=game/data.fl3" last_line "$cli" apply-patch out player
check "apply-patch again: nothing to do" 0 "Patching OK: nothing to do, the game in player is patched already" "" \
    same "player/data.fl3=out/data.fl3" last_line "$cli" apply-patch out player/
check "apply-patch --undo: the game's own is back" 0 "Undo OK: 1 file restored in player" "" \
    same "player=game" last_line "$cli" apply-patch --undo out player
printf 'x' >>player/data.fl3
check "apply-patch refuses another version and changes nothing" 1 \
    "Patching refused: nothing was changed in player. Restore the game's own files (reinstall the game, or let its launcher check them), then apply the patch again." \
    "Alert: player/data.fl3 is not the version of the game that this patch was made for: the patch needs $(stat -c %s game/data.fl3 | sed ':a;s/\B[0-9]\{3\}\>/,&/;ta') bytes with the hash $(xxhsum -H2 game/data.fl3 2>/dev/null | cut -d' ' -f1), and this file has $(stat -c %s player/data.fl3 | sed ':a;s/\B[0-9]\{3\}\>/,&/;ta') bytes with the hash $(xxhsum -H2 player/data.fl3 2>/dev/null | cut -d' ' -f1)." \
    absent "player/data.fl3.orig" last_line "$cli" apply-patch out player
check "apply-patch takes two folders" 2 "" "vidodide: apply-patch takes a PATCH_FOLDER and a GAME_FOLDER
$hint" "$cli" apply-patch out
# The same patch as a VCDIFF delta, which Debian's xdelta3 applies too.
check "repack --delta writes the archive's delta" 0 "Repacking OK: 1 file written to outd
outd/data.fl3.vcdiff
outd/vidodide-patch.json" "" bash -c "set -o pipefail; '$cli' repack --delta work outd | tail -n 1 && find outd -type f | sort"
check "Debian's xdelta3 makes the archive of it" 0 "" "" \
    sh -c "xdelta3 -d -s game/data.fl3 outd/data.fl3.vcdiff xdelta.fl3 && cmp xdelta.fl3 out/data.fl3"
cp game/data.fl3 player/data.fl3
check "apply-patch of the delta, and its undo" 0 "Patching OK: 1 file patched in player (each original kept beside it as .orig)
Undo OK: 1 file restored in player" "" \
    sh -c "'$cli' apply-patch outd player | tail -n 1 && cmp player/data.fl3 out/data.fl3 && '$cli' apply-patch --undo outd player | tail -n 1 && cmp player/data.fl3 game/data.fl3"
mkdir check && cp out/data.fl3 check/ && "$cli" extract-fl3 check/data.fl3 >/dev/null
check "repacked: original order, the new member last" 0 "readme.txt empty.dat one.bin save000.sav table.bin fifteen_chars.x a_name_of_sixteen level01.map music.bin title.bm2 coin32.bm2 coin8.bm2 chime.wv5 jingle.wv5 scene01.ab opcodes.ab voices.ab unknown.ab zz_new.dat" "" \
    bash -c "set -o pipefail; '$cli' list-fl3 --json check/data.fl3 | python3 -c 'import json,sys; print(*[m[\"name\"] for m in json.load(sys.stdin)[\"archives\"][0][\"members\"]])'"
check "repacked: untouched members byte-identical, the deleted one as the original's" 0 "" "" sh -c "
    for m in readme.txt empty.dat save000.sav fifteen_chars.x a_name_of_sixteen level01.map music.bin coin32.bm2 coin8.bm2 jingle.wv5 opcodes.ab voices.ab unknown.ab; do
        cmp check/data_fl3/\$m work/data_fl3/\$m || exit 1; done
    mkdir -p orig && cp game/data.fl3 orig/ && '$cli' extract-fl3 orig/data.fl3 >/dev/null && cmp check/data_fl3/one.bin orig/data_fl3/one.bin"
check "repacked: replaced and added members as written" 0 "new table|added" "" \
    sh -c "printf '%s|%s' \"\$(cat check/data_fl3/table.bin)\" \"\$(cat check/data_fl3/zz_new.dat)\""
check "repacked: the script decodes to the edited listing" 0 "" "" \
    sh -c "'$cli' decode-ab check/data_fl3/scene01.ab >/dev/null && cmp check/data_fl3/scene01.txt edited-scene01.txt"
check "repacked: the picture decodes to the edited pixels" 0 "0" "" \
    sh -c "'$cli' decode-bm2 --png check/data_fl3/title.bm2 >/dev/null && compare -metric AE check/data_fl3/title.png $e/title.png null: 2>&1"

# The game changed since unpack (a byte of readme.txt, same size): the
# check finds it and the archive is not written, whether it is read back
# while it is written (-j 2) or after (-j 1).
cp game/data.fl3 data.fl3.kept
printf 'Z' | dd of=game/data.fl3 bs=1 seek=30 conv=notrunc status=none
for j in 1 2; do
    rm -rf out3
    check "a failed check leaves no archive (-j $j)" 1 "Repacking: 0 files written to out3, 1 not written" \
        "Alert: out3/data.fl3 failed its check and is not written: member readme.txt is not byte-identical to the original's as unpacked" \
        same "out3=$empty" last_line "$cli" repack -j $j work out3
done
mv data.fl3.kept game/data.fl3

# A member and its editable file both changed: repack refuses the archive.
printf 'x' >>work/sub/more_fl3/intro.ab
printf 'x' >>work/edit/sub/more_fl3/intro.txt
check "status shows the conflict" 1 "Conflict: work/sub/more_fl3/intro.ab and work/edit/sub/more_fl3/intro.txt both changed (repack refuses sub/more.fl3:intro.ab)" "" \
    bash -c "set -o pipefail; '$cli' status work | grep Conflict"
check "repack refuses a conflict and writes the rest" 1 "Repacking: 1 file written to out2, 1 not written
out2/data.fl3
out2/vidodide-patch.json" \
    "Alert: work/sub/more_fl3/intro.ab and work/edit/sub/more_fl3/intro.txt both changed: repack refuses sub/more.fl3:intro.ab, and out2/sub/more.fl3 is not written. Restore one of them." \
    bash -c "set -o pipefail; '$cli' repack work out2 | tail -n 1; r=\$?; find out2 -type f | sort; exit \$r"

# The conflict undone; the image whose name differs from another's only in
# case (it has no member file) is edited through its editable file alone.
truncate -s -1 work/sub/more_fl3/intro.ab work/edit/sub/more_fl3/intro.txt
convert work/edit/sub/more_fl3/logo~2.png -flop work/edit/sub/more_fl3/logo~2.png
check "an edit of the second of two names differing in case" 0 "Edited: work/edit/sub/more_fl3/logo~2.png (encoded back into sub/more.fl3:logo.bm2)
Repacking OK: 2 files written to out4" "" \
    bash -c "set -o pipefail; '$cli' status work | grep more_fl3; '$cli' repack work out4 | tail -n 1"
# Interrupted while it writes and checks an archive (a large member makes
# that take a while): nothing is left in the output folder.
truncate -s 512M work/data_fl3/zz_large.dat
check "an interrupted repack leaves no archive" 0 "143 out5" "" bash -c "
    : >log
    '$cli' repack work out5 >log 2>&1 & pid=\$!
    until grep -q '^Repacking 1 of' log || ! kill -0 \$pid 2>/dev/null; do sleep 0.01; done
    kill -TERM \$pid; wait \$pid; echo \$? \$(find out5)"
rm work/data_fl3/zz_large.dat
check "repack refuses an output folder that is not empty" 1 "" \
    "Alert: out is not empty: repack needs an empty or new output folder" "$cli" repack work out
check "repack refuses an output folder inside the game folder" 1 "" \
    "Alert: game/x is inside the game folder $(pwd -P)/game, which repack only reads: the output folder must be elsewhere" \
    absent game/x "$cli" repack work game/x
check "repack refuses an output folder inside the work folder" 1 "" \
    "Alert: work/edit/x is inside the work folder work, which repack only reads: the output folder must be elsewhere" \
    absent work/edit/x "$cli" repack work work/edit/x

# Edited sounds in another format than their members (11,025 Hz mono and
# 22,050 Hz stereo): a 44.1 kHz stereo float file and a 3-channel file are
# converted to the member's format, as encode-wv5 converts them, with the
# conversion told; the members decode in that format.
rm -rf snd && mkdir snd && cd snd
"$samples" --game game >/dev/null && "$cli" unpack game work >/dev/null 2>&1
sox -r 44100 -c 2 -n -e float -b 32 work/edit/data_fl3/chime.wav synth 22048s sine 440 vol 0.5
sox -r 22050 -c 3 -n -b 16 work/edit/data_fl3/jingle.wav synth 4000s sine 300 vol 0.25
check "repack converts a float and a 3-channel sound to their members' formats" 0 "Converted work/edit/data_fl3/chime.wav: 44100 Hz stereo 32-bit float -> 11025 Hz mono 16-bit; 0 samples clipped
Converted work/edit/data_fl3/jingle.wav: 22050 Hz 3 channels 16-bit -> 22050 Hz stereo 16-bit; 0 samples clipped
Repacking OK: 1 file written to out" "" bash -c "set -o pipefail; '$cli' repack -j 1 work out | grep -E '^(Converted|Repacking OK)'"
mkdir chk && cp out/data.fl3 chk/ && "$cli" extract-fl3 chk/data.fl3 >/dev/null
# Channels, rate and samples per channel of the decoded members, as sox reads them.
check "the converted sounds decode in the members' formats" 0 "1 11025 5512 2 22050 4000" "" sh -c "
    '$cli' decode-wv5 chk/data_fl3/chime.wv5 chk/data_fl3/jingle.wv5 >/dev/null &&
    for f in chime jingle; do for o in c r s; do soxi -\$o chk/data_fl3/\$f.wAV; done; done | paste -sd' '"
# import-text on a member folder keeps the script's original beside it as
# scene01.ab.orig: a backup, which status does not list and repack never packs.
"$cli" export-text work/data_fl3 t.csv >/dev/null 2>&1
sed -i 's/^\(scene01\.ab,5,init,0x0001,mina01,Good morning\.,\)\r$/\1Hello.\r/' t.csv
check "a backup in a member folder is not a member" 0 "Importing OK: 1 text into 1 script
work/data_fl3/scene01.ab.orig
Replaced: work/data_fl3/scene01.ab (packed as it is into data.fl3:scene01.ab)
Status: 3 changes since unpack
18" "" bash -c "'$cli' import-text work/data_fl3 t.csv | tail -n 1; ls work/data_fl3/*.orig
    '$cli' status work | grep -v '^Edited'; '$cli' repack work out3 >/dev/null
    '$cli' list-fl3 --json out3/data.fl3 | python3 -c 'import json,sys; print(json.load(sys.stdin)[\"member_count\"])'"
# The game's archive changed since unpack, same size and directory, but a
# byte of an edited member's original: it is no template for the edit.
cp game/data.fl3 data.fl3.kept
at=$("$cli" list-fl3 --json game/data.fl3 | python3 -c "
import json, sys; print([m['offset'] for m in json.load(sys.stdin)['archives'][0]['members'] if m['name'] == 'chime.wv5'][0] + 30)")
printf 'Z' | dd of=game/data.fl3 bs=1 seek="$at" conv=notrunc status=none
check "repack refuses an edited member whose original changed since unpack" 1 "Repacking: 0 files written to out10, 1 not written" \
    "Alert: $(pwd -P)/game/data.fl3 changed since unpack: its member chime.wv5 is not the one unpack decoded. out10/data.fl3 is not written" \
    absent out10/data.fl3 last_line "$cli" repack -j 1 work out10
mv data.fl3.kept game/data.fl3
# Member files deleted and nothing else: the archive would come out as the
# game's own, so none is written.
"$cli" unpack game work11 >/dev/null 2>&1; rm work11/data_fl3/readme.txt
check "repack writes nothing for an archive whose member files were only deleted" 0 "Deleted: work11/data_fl3/readme.txt (the original's bytes are kept)
data.fl3: only member files were deleted, whose original bytes are kept: the archive is the game's own, nothing written for it
Repacking OK: 0 files written to out11" "" \
    bash -c "'$cli' status work11 | grep Deleted; '$cli' repack work11 out11; r=\$?; diff -r out11 '$empty' && exit \$r"
# Links in the work folder are never read into a patch: a member file, and a
# member folder, replaced by links to files elsewhere.
"$cli" unpack game work13 >/dev/null 2>&1
printf 'from elsewhere' >outside.txt
rm work13/data_fl3/readme.txt && ln -s "$PWD/outside.txt" work13/data_fl3/readme.txt
for link in data_fl3/readme.txt data_fl3; do
    if [ "$link" = data_fl3 ]; then
        rm -rf out13 work13/data_fl3/readme.txt && cp -r work13/data_fl3 elsewhere_fl3 && cp game/scene01.ab elsewhere_fl3/zz_added.ab
        rm -rf work13/data_fl3 && ln -s "$PWD/elsewhere_fl3" work13/data_fl3
    fi
    check "repack refuses a link: $link" 1 "Repacking: 0 files written to out13, 1 not written" \
        "Alert: work13/$link is a link: repack reads no file of the work folder through a link, so that nothing from elsewhere goes into the patch. Put the file itself there. out13/data.fl3 is not written" \
        absent out13/data.fl3 last_line "$cli" repack work13 out13
done

# A listing saved as UTF-8 goes into no patch as it stands (the game would
# show its texts garbled): refused, or converted with --utf8. In code page
# 932 "おはよう。" is 82 A8 82 CD 82 E6 82 A4 81 42.
"$cli" unpack game work15 >/dev/null 2>&1
sed -i 's/^Good morning\.$/おはよう。/' work15/edit/data_fl3/scene01.txt
check "repack refuses a listing saved as UTF-8" 1 "Repacking: 0 files written to out15, 1 not written" \
    "Alert: work15/edit/data_fl3/scene01.txt cannot be encoded: these lines are not in the game's code page (932), and the game would show them garbled:
- line 31 is UTF-8 text that the code page does not hold: the listing was saved in another encoding
Save the listing in code page 932, or (on the command line) repack with --utf8 to convert a listing saved in UTF-8.
Alert: out15/data.fl3 is not written" \
    absent out15/data.fl3 last_line "$cli" repack work15 out15
check "repack --utf8 converts the listing's texts to code page 932" 0 "1" "" bash -c "
    '$cli' repack --utf8 work15 out16 >/dev/null && '$cli' extract-fl3 out16/data.fl3 >/dev/null &&
    '$cli' decode-ab out16/data_fl3/scene01.ab >/dev/null &&
    grep -c \$'^\x82\xa8\x82\xcd\x82\xe6\x82\xa4\x81\x42\$' out16/data_fl3/scene01.txt"
sed -i 's/^おはよう。$/Good \xef\xbf\xbd morning./' work15/edit/data_fl3/scene01.txt
check "repack refuses a listing with characters an editor could not read" 1 "*" \
    "Alert: work15/edit/data_fl3/scene01.txt cannot be encoded: these lines are not in the game's code page (932), and the game would show them garbled:
- line 31 holds EF BF BD, written by an editor for a character it could not read
Save the listing in code page 932, or (on the command line) repack with --utf8 to convert a listing saved in UTF-8.
Alert: out17/data.fl3 is not written" "$cli" repack work15 out17
check "repack --utf8 refuses a character that code page 932 cannot hold" 1 "*" \
    "Alert: work15/edit/data_fl3/scene01.txt cannot be encoded: line 31: code page 932 cannot hold \"�\" (U+FFFD)
Alert: out18/data.fl3 is not written" "$cli" repack --utf8 work15 out18
# A work folder unpacked by the Windows program names its game folder
# "Z:\..."; repack finds the game the same way from the work folder, or
# takes --game FOLDER.
"$cli" unpack game work19 >/dev/null 2>&1
sed -i 's/^Good morning\.$/Good evening./' work19/edit/data_fl3/scene01.txt
python3 -c "
import json; p = 'work19/vidodide-project.json'; m = json.load(open(p))
assert m['game_folder_from_work'] == '../game'; m['game_folder'] = 'Z:\\\\tmp\\\\nu\\\\game'; json.dump(m, open(p, 'w'))"
check "repack finds the game folder from the work folder" 0 "Repacking OK: 1 file written to out19" "" \
    last_line "$cli" repack work19 out19
python3 -c "
import json; p = 'work19/vidodide-project.json'; m = json.load(open(p))
del m['game_folder_from_work']; json.dump(m, open(p, 'w'))"
check "repack without the game folder says to give it" 1 "" \
    "Alert: The game folder Z:\\tmp\\nu\\game that work19 was unpacked from is not found: give it with --game FOLDER" \
    "$cli" repack work19 out20
check "repack --game FOLDER" 0 "Repacking OK: 1 file written to out20" "" \
    same "out19/data.fl3=out20/data.fl3" last_line "$cli" repack --game game work19 out20
check "repack --game of a folder that is not there" 1 "" "Alert: nothing not found: --game needs the game folder that was unpacked" \
    "$cli" repack --game nothing work19 out21
# Links in the game folder are followed (it is only read), but not one
# that leads back into a folder that holds it; files inside an archive's
# member folder (an earlier Extract FL3 there) are no members.
mkdir -p game22 elsewhere22 && cp game/data.fl3 game22/ && cp game/scene01.ab elsewhere22/
"$cli" extract-fl3 game22/data.fl3 >/dev/null
ln -s ../elsewhere22 game22/linked && ln -s . game22/loop
n22=$(ls game22/data_fl3 | grep -ci '\.\(bm2\|wv5\|ab\)$')
check "unpack follows links and leaves member folders of the game out" 0 "Unpacking: 1 archive, 19 files, 10 editable files in work22/edit, $((n22 + 1)) not extracted or not decoded
Status: nothing changed since unpack" \
    "Alert: $n22 files not unpacked: they are inside the member folder of an archive of the game (an earlier Extract FL3, for instance), where the work folder puts that archive's members. The first is data_fl3/chime.wv5.
Alert: game22/loop is a link back into a folder that holds it: it is not followed" \
    bash -c "'$cli' unpack game22 work22 | tail -n 1; test -f work22/linked/scene01.ab &&
             test -f work22/edit/linked/scene01.txt && '$cli' status work22"
# An added file whose name differs from a member's only in case: Windows
# holds one of the two, so the archive is refused. Two added names of one
# spelling but for case likewise.
"$cli" unpack game work23 >/dev/null 2>&1
printf 'x' >work23/data_fl3/README.TXT
check "repack refuses an added name that differs from a member's only in case" 1 "Repacking: 0 files written to out23, 1 not written" \
    "Alert: work23/data_fl3: the added file README.TXT differs from readme.txt only in case, and Windows takes both names for one: out23/data.fl3 is not written" \
    absent out23/data.fl3 last_line "$cli" repack work23 out23
rm work23/data_fl3/README.TXT && printf 'x' >work23/data_fl3/New.dat && printf 'y' >work23/data_fl3/new.DAT
check "repack refuses two added names that differ only in case" 1 "*" \
    "Alert: work23/data_fl3: the added file new.DAT differs from New.dat only in case, and Windows takes both names for one: out24/data.fl3 is not written" \
    "$cli" repack work23 out24
rm work23/data_fl3/new.DAT
check "one added name of that spelling is taken" 0 "Repacking OK: 1 file written to out25" "" \
    last_line "$cli" repack work23 out25

# Ctrl-C stops unpack between two members with a work folder that holds
# what was unpacked whole; unpack then goes on into it, and the manifest
# comes out as that of a run that did not stop. The progress lines come
# through a pipe, so the run is never more than a pipe's worth ahead of the
# Ctrl-C sent at its 100th member (of 2,000; a pipe holds some 1,200 of its lines).
"$samples" --mod-game game26 2000 16 >/dev/null
check "Ctrl-C stops unpack; unpack goes on into the work folder it left" 0 "stopped 1 1
unfinished 1
Going on with the unfinished work folder work26
Unpacking OK
same manifest
Status: nothing changed since unpack" "" bash -c "
    set -m
    exec 3< <('$cli' unpack -j 1 game26 work26 2>&1; echo \"rc \$?\")
    sub=\$!
    while read -r line <&3; do
        case \$line in 'Unpacking 100 of'*) pkill -INT -P \$sub ;; 'rc '*) rc=\${line#rc } ;; 'Unpacking stopped at '*) stopped=1 ;; esac
    done
    echo \"stopped \${stopped:-0} \${rc:-}\"; echo \"unfinished \$(grep -c '\"unfinished\": 1' work26/vidodide-project.json)\"
    '$cli' unpack game26 work26 | grep -v '^Unpacking [0-9]' | sed 's/: 1 archive.*//; s/: [0-9] archives.*//'
    '$cli' unpack game26 work27 >/dev/null && sed 's/work27/work26/' work27/vidodide-project.json |
        cmp - work26/vidodide-project.json && echo 'same manifest'
    '$cli' status work26"
cd "$pj"
cd "$work"
