# What is already on disk: links, FIFOs, folders, held files, signals and
# names. Every case runs in a fresh scratch folder beside an "outside" folder
# that must never change. Sourced by run_cli_tests.sh.

# A fresh scratch folder $s with outside/victim.txt, and the saved state of
# everything in it, to compare with after the command.
fresh() {
    s=$work/safe/$1
    rm -rf "$s" && mkdir -p "$s/outside" && printf 'victim' > "$s/outside/victim.txt"
}
# Every name with its kind, mode, size or link target, and every file's bytes.
snapshot() { (cd "$s" && find . -printf '%p %M %s %l\n' | sort && find . -type f -print0 | sort -z | xargs -0 -r md5sum); }
save() { snapshot > "$work/snap.before"; }
unchanged() { snapshot > "$work/snap.after"; cmp -s "$work/snap.before" "$work/snap.after"; }
no_temp() { [ -z "$(find "$s" -name '~vd*.tmp')" ]; }
unchanged_no_temp() { unchanged && no_temp; }
# COMMAND..., then nothing changed and no temporary file is left (else status 99).
then_unchanged() { "$@"; local rc=$?; unchanged_no_temp || { echo changed; rc=99; }; return $rc; }
no_archive_no_temp() { ! test -e "$s/m.fl3" && no_temp; }
# An FL3 archive of one member, readme.txt holding "hello": header, data, directory.
tiny_fl3() {
    { printf 'FL3.0\0\0\0\034\0'; bin_u32 19; bin_u32 33; printf '\001\0\0\0\0\0\0\0\0\0hello'
      bin_u32 5; printf '\012readme.txt\377\377\377\377'; } > "$1"
}
# A BM2 of an ordinary image whose four decoded bytes are "BM12".
tiny_bm2() { { printf 'HEADER..'; bin_u32 5; bin_u32 4; printf '\017BM12'; } > "$1"; }
ok_extract() { printf 'Extracting %s\nExtracting %s:readme.txt\nExtracting OK' "$1" "$1"; }
# A fresh folder $1 holding game.fl3 and its member folder, as extracted.
extracted() { fresh "$1"; tiny_fl3 "$s/game.fl3"; "$cli" extract-fl3 "$s/game.fl3" > /dev/null; }
# The Alert for an input from whose name no output name can be made.
no_name() { printf 'Alert: %s\nNo output name can be made from this name: it is too short, or the characters replaced to make it would reach into a folder'"'"'s name.' "$1"; }

# Links in the member folder are replaced, never written through.
for kind in symbolic dangling hard; do
    fresh "link-$kind"; tiny_fl3 "$s/game.fl3"; mkdir "$s/game_fl3"
    case $kind in
        symbolic) ln -s ../outside/victim.txt "$s/game_fl3/readme.txt" ;;
        dangling) ln -s ../outside/new.txt "$s/game_fl3/readme.txt" ;;
        hard) ln "$s/outside/victim.txt" "$s/game_fl3/readme.txt" ;;
    esac
    check "extract-fl3 replaces a $kind link in the member folder; outside untouched, member a plain file" 0 "$(ok_extract "$s/game.fl3")
victim hello" "" sh -c "'$cli' extract-fl3 '$s/game.fl3' && test ! -e '$s/outside/new.txt' && test ! -L '$s/game_fl3/readme.txt' &&
        echo \$(cat '$s/outside/victim.txt') \$(cat '$s/game_fl3/readme.txt')"
done

fresh folder-link; tiny_fl3 "$s/game.fl3"; ln -s outside "$s/game_fl3"; save
check "extract-fl3 refuses a member folder that is a link; nothing changed" 1 "Extracting $s/game.fl3
Extracting $s/game.fl3: nothing extracted" "Alert: $s/game_fl3 is a link, not a folder: the members are not extracted through it" \
    then_unchanged "$cli" extract-fl3 "$s/game.fl3"

# Archives that cannot be written: the index, a member, a held file, a
# folder, a link loop; nothing changes, no temporary file is left. A row:
# what|the archive|a file held (flock) meanwhile|the progress texts (@ for $s).
extracted refused-archives; mkdir "$s/dir.fl3"
ln -s loop.fl3 "$s/loop.fl3"; ln -s b.fl3 "$s/a.fl3"; ln -s a.fl3 "$s/b.fl3"; save
while IFS='|' read -r what out held texts; do
    texts=$(printf '%b' "${texts//@/$s}")
    check "encode-fl3 into $what" 1 "$texts" "Alert: Can't create $s/$out" \
        then_unchanged ${held:+flock "$s/$held"} "$cli" encode-fl3 "$s/game_fl3/_index.bin" "$s/$out"
done <<'TABLE'
its own index|game_fl3/_index.bin||
a member|game_fl3/readme.txt||Compacting @/game_fl3/readme.txt\nCompacting @/game_fl3/readme.txt: not written
an archive held by another program: that comes first|game.fl3|game.fl3|
a folder: that comes first|dir.fl3||
a link loop|loop.fl3||
a link loop of two|a.fl3||
TABLE

# A member that cannot be read leaves an existing archive as it was.
extracted poorer
printf 'changed' > "$s/game_fl3/readme.txt"; save
check "encode-fl3 with a held member keeps the old archive" 1 "Compacting $s/game.fl3
Compacting $s/game.fl3: 1 of 1 members skipped, archive unchanged" "Alert: $s/game_fl3/readme.txt is in use by another program
Skip it
Alert: 1 of 1 members of $s/game_fl3/_index.bin could not be packed: the archive $s/game.fl3 is left unchanged." \
    then_unchanged flock "$s/game_fl3/readme.txt" "$cli" encode-fl3 "$s/game_fl3/_index.bin" "$s/game.fl3"

# An input or a template that another program holds is said to be in use.
fresh held; cp "$work/samples/title.bm2" "$work/samples/chime.wv5" "$s/"
"$cli" decode-bm2 --png "$s/title.bm2" > /dev/null; "$cli" decode-wv5 "$s/chime.wv5" > /dev/null; mv "$s/chime.wAV" "$s/chime.wav"
for c in "decode-bm2 title.bm2 title.bm2" "encode-bm2 title.png title.bm2" "encode-wv5 chime.wav chime.wv5" \
         "decode-wv5 chime.wv5 chime.wv5"; do
    set -- $c; save
    check "$1 with $3 held (flock): nothing changed" 1 "*" "Alert: $s/$3 is in use by another program" then_unchanged flock "$s/$3" "$cli" "$1" "$s/$2"
done

# Replacing keeps the archive's permissions, and a linked archive's link.
fresh modes; tiny_fl3 "$s/real.fl3"; "$cli" extract-fl3 "$s/real.fl3" > /dev/null
printf 'HELLO' > "$s/real_fl3/readme.txt"; chmod 600 "$s/real.fl3"; ln -s real.fl3 "$s/link.fl3"
check "encode-fl3 through a linked archive: the link stays, its target is the new archive, mode 600 kept" 0 "link 600 HELLO" "" sh -c \
    "'$cli' encode-fl3 '$s/real_fl3/_index.bin' '$s/link.fl3' >/dev/null && test -L '$s/link.fl3' &&
     echo link \$(stat -c %a '$s/real.fl3') \$(tail -c +29 '$s/real.fl3' | head -c 5)"

# Unusual things on disk. Setuid, setgid and sticky bits of a replaced file
# are kept with its mode.
extracted special-modes
for mode in 4755 2750 1644; do
    tiny_fl3 "$s/m$mode.fl3"; chmod "$mode" "$s/m$mode.fl3"
    "$cli" encode-fl3 "$s/game_fl3/_index.bin" "$s/m$mode.fl3" > /dev/null
    check "a replaced archive of mode $mode keeps it" 0 "$mode" "" stat -c %a "$s/m$mode.fl3"
done
# A member that is a link to the index is skipped; one that is a link to the
# archive being written refuses the archive, which stays as it was.
extracted member-links
ln -sf _index.bin "$s/game_fl3/readme.txt"
check "a member linked to the index" 1 "Compacting $s/new.fl3
Compacting $s/new.fl3: 1 of 1 members skipped" "Alert: $s/game_fl3/_index.bin names the index file itself as a member: $s/game_fl3/readme.txt is not packed
Skip it" "$cli" encode-fl3 "$s/game_fl3/_index.bin" "$s/new.fl3"
ln -sf ../game.fl3 "$s/game_fl3/readme.txt"; rm -f "$s/new.fl3"; save
check "a member linked to the archive" 1 "Compacting $s/game.fl3
Compacting $s/game.fl3: not written" "Alert: Can't create $s/game.fl3" \
    "$cli" encode-fl3 "$s/game_fl3/_index.bin" "$s/game.fl3"
check "the archive a member links to: unchanged, no temporary file" 0 "" "" unchanged_no_temp
# Extracting twice into the same folder gives the same folder, an edited
# member back as it was in the archive.
extracted twice; save
printf 'edited' > "$s/game_fl3/readme.txt"
check "extract-fl3 again over its own folder: as after the first extraction" 0 "$(ok_extract "$s/game.fl3")" "" \
    then_unchanged "$cli" extract-fl3 "$s/game.fl3"
# Case variants of the template's name: the exact one is the template.
fresh case-variants; cp "$work/samples/title.bm2" "$s/"; "$cli" decode-bm2 --png "$s/title.bm2" > /dev/null
for v in TITLE.BM2 Title.bm2 title.BM2 TiTlE.bM2; do printf 'not a BM2 %s\n' "$v" > "$s/$v"; done
cp "$s/title.bm2" "$s/first"
check "encode-bm2 beside case variants of its template" 0 "Encoding $s/title.png
Encoding OK" "" "$cli" encode-bm2 "$s/title.png"
check "the exact name was the template: kept as .orig; the variants unchanged" 0 \
    "kept 1 not a BM2 TITLE.BM2 not a BM2 Title.bm2 not a BM2 title.BM2 not a BM2 TiTlE.bM2" "" sh -c \
    "cd '$s' && cmp -s first title.bm2.orig && echo kept \$(ls | grep -c orig) \$(cat TITLE.BM2 Title.bm2 title.BM2 TiTlE.bM2)"

# FIFOs, devices and folders are refused at once, wherever they stand.
fresh fifos; mkfifo "$s/in.bm2" "$s/in.wv5" "$s/in.ab" "$s/in.txt"; tiny_bm2 "$s/c.bm2"; mkfifo "$s/c.bmP"; mkdir "$s/dir.bm2"
for c in "decode-bm2 $s/in.bm2" "decode-wv5 $s/in.wv5" "decode-ab $s/in.ab" "encode-ab $s/in.txt" "decode-wv5 /dev/zero"; do
    check "${c%% *} of ${c#* }" 1 "*" "Alert: ${c#* } is not a regular file" timeout 10 "$cli" ${c%% *} "${c#* }"
done
check "decode-bm2 with a FIFO at the output's name" 1 "Decoding $s/c.bm2
Decoding: 1 of 1 file failed" "Alert: $s/c.bmP is not a regular file" timeout 10 "$cli" decode-bm2 "$s/c.bm2"
check "decode-bm2 of a folder" 1 "*" "Alert: $s/dir.bm2 is a folder" "$cli" decode-bm2 "$s/dir.bm2"
tiny_fl3 "$s/game.fl3"; mkdir "$s/game_fl3"; mkfifo "$s/game_fl3/readme.txt"
check "extract-fl3 with a FIFO at a member's name" 1 "Extracting $s/game.fl3
Extracting $s/game.fl3:readme.txt
$s/game_fl3/readme.txt is not a regular file" "Alert: $s/game_fl3/readme.txt is not a regular file" \
    timeout 10 "$cli" extract-fl3 "$s/game.fl3"
check "encode-fl3 with a FIFO as a member" 1 "*" "Alert: $s/game_fl3/readme.txt is not a regular file
Skip it" timeout 10 "$cli" encode-fl3 "$s/game_fl3/_index.bin" "$s/new.fl3"
check "FIFO cases: no temporary file left" 0 "" "" no_temp

# A damaged input never touches the good output beside it.
fresh keep-outputs; printf 'good bitmap' > "$s/pic.bmP"; printf '0123456789' > "$s/pic.bm2"
printf 'good wav' > "$s/v.wAV"; printf '01234' > "$s/v.wv5"; save
check "a 10-byte BM2 keeps the old bitmap" 1 "*" "*" then_unchanged "$cli" decode-bm2 "$s/pic.bm2"
check "a 5-byte WV5 keeps the old WAV" 1 "*" "*" then_unchanged "$cli" decode-wv5 "$s/v.wv5"

# Output names never reach into a folder's name.
fresh names; mkdir "$s/sub"; tiny_fl3 "$s/sub/abc"; printf 'x' > "$s/sub/s"; save
check "extract-fl3 sub/abc: nothing written" 1 "*" "$(no_name "$s/sub/abc")" then_unchanged "$cli" extract-fl3 "$s/sub/abc"


# Control characters in member names are shown escaped, never sent raw.
fresh escapes
{ printf 'FL3.0\0\0\0\034\0'; bin_u32 13; bin_u32 28; printf '\001\0\0\0\0\0\0\0\0\0'; bin_u32 0; printf '\004\033[2J\377\377\377\377'; } > "$s/e.fl3"
check "a member name with an escape sequence" 1 "Extracting $s/e.fl3
Extracting $s/e.fl3: not extracted in full" "Alert: $s/e.fl3 is not extracted in full:
Member \"\\x1B[2J\" is refused: a member name must be a name that Windows can hold as an ordinary file: not empty, not a device name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, with or without an extension), not ending in a dot or a space, and without control characters or any of < > : \" / \\ | ? *." \
    "$cli" extract-fl3 "$s/e.fl3"

# Raw control characters in a path reach the terminal escaped, every one of
# them, in the status texts and in the Alert; the line break too (a name never
# prints a line of its own), while the program's own line breaks stay.
fresh raw-names; raw=$'c\e[2J\x7f\t\r\nd'; shown='c\x1B[2J\x7F\x09\x0D\x0Ad'
printf '0123456789' > "$s/$raw.bm2"; mkdir "$s/$raw"; printf 'x' > "$s/$raw/s"; printf 'RIFF' > "$s/$raw.wav"
check "decode-bm2 of a name with raw ESC, DEL, TAB, CR and LF" 1 "Decoding $s/$shown.bm2
Decoding: 1 of 1 file failed" "Alert: $s/$shown.bm2 is not a BM2 image: it ends inside its 16-byte header" \
    "$cli" decode-bm2 "$s/$raw.bm2"
check "encode-wv5 of such a name" 1 "*" "Alert: $s/$shown.wav is not a WAV file: it does not begin with a RIFF/WAVE header" \
    "$cli" encode-wv5 "$s/$raw.wav"
check "decode-ab in such a folder: the Alert keeps its own line break" 1 "*" "$(no_name "$s/$shown/s")" \
    "$cli" decode-ab "$s/$raw/s"
check "a command name with raw control characters" 2 "" "vidodide: unknown command '$shown'
$hint" "$cli" "$raw"

# An interrupted pack leaves no temporary file and no archive; under nohup a
# hang-up is ignored and the pack ends complete. The signal is sent once the
# temporary file exists (the pack is under way).
big_pack() {  # a 256 MiB member (a hole: nothing to read from the disk)
    mkdir "$s/m_fl3"; truncate -s 256M "$s/m_fl3/big"
    { bin_u32 0; printf '\003big\377\377\377\377'; } > "$s/m_fl3/_index.bin"
}
under_way() { for _ in $(seq 200); do [ -n "$(find "$s" -name '~vd*.tmp')" ] && return; sleep 0.02; done; }
for sig in TERM HUP INT QUIT; do
    fresh "signal-$sig"; big_pack
    # A background job of a script starts with INT and QUIT ignored: give them back.
    env --default-signal="$sig" "$cli" encode-fl3 "$s/m_fl3/_index.bin" "$s/m.fl3" > /dev/null & pid=$!
    under_way; kill -"$sig" "$pid"; wait "$pid" 2> /dev/null
    check "SIG$sig during encode-fl3: no temporary file, no archive" 0 "" "" no_archive_no_temp
    rm -rf "$s"
done
fresh nohup; big_pack
nohup "$cli" encode-fl3 "$s/m_fl3/_index.bin" "$s/m.fl3" > "$s/out" 2>&1 & pid=$!
under_way; kill -HUP "$pid"; wait "$pid"; rc=$?
check "SIGHUP under nohup: the pack goes on and ends complete" 0 "0 268435496" "" sh -c \
    "echo $rc \$(stat -c %s '$s/m.fl3'); test -z \"\$(find '$s' -name '~vd*.tmp')\" || echo temp left"
rm -rf "$s"
