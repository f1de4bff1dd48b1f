# find-text GAME_OR_FOLDER TEXT: the texts that hold TEXT, in loose scripts
# and inside archives, never inside a character of code page 932 and never
# in a voice marker.
fdir=$work/find
mkdir -p "$fdir/game/sub" "$fdir/cut"
cd "$fdir" || exit 1
# g.fl3: s1.ab (37 bytes at 28) and x.bin ("AB" at 65), the directory of 24
# bytes at 67. s1.ab: Init Text 1, voice "SATO", "Hello there"; Update Text
# 2, "Bye, SATO".
printf 'FL3.\x30\x00\x00\x00\x1c\x00\x18\x00\x00\x00\x43\x00\x00\x00\x02\x00\x00\x00\x00\x00\x00\x00\x00\x00' >game/g.fl3
printf '\x00\x00\x01\x00\x5cVSATO.Hello there\x00\x01\x00\x02\x00Bye, SATO\x00AB' >>game/g.fl3
printf '\x25\x00\x00\x00\x05s1.ab\x02\x00\x00\x00\x05x.bin\xff\xff\xff\xff' >>game/g.fl3
# sub/loose.ab: Update Text 1, "アおは" (83 41, 82 A8, 82 CD: the first
# character's second byte is "A").
printf '\x01\x00\x01\x00\x83\x41\x82\xa8\x82\xcd\x00' >game/sub/loose.ab
for row in "SATO|g.fl3:s1.ab:2: Bye, SATO|Found 1 text in 1 of 2 scripts" \
    "A|g.fl3:s1.ab:2: Bye, SATO|Found 1 text in 1 of 2 scripts" \
    "おは|sub/loose.ab:1: アおは|Found 1 text in 1 of 2 scripts" \
    "ア|sub/loose.ab:1: アおは|Found 1 text in 1 of 2 scripts"; do
    IFS='|' read -r what hits summary <<<"$row"
    check "find-text game '$what'" 0 "$hits
$summary" "" "$cli" find-text game "$what"
done
check "find-text: every hit of the scripts, in instruction order" 0 "g.fl3:s1.ab:1: Hello there
g.fl3:s1.ab:2: Bye, SATO
Found 2 texts in 1 of 2 scripts" "" "$cli" find-text game e
check "find-text: the bytes of code page 932 as typed are found too" 0 "sub/loose.ab:1: アおは
Found 1 text in 1 of 2 scripts" "" "$cli" find-text game "$(printf '\x82\xcd')"
check "find-text of one archive" 0 "game/g.fl3:s1.ab:2: Bye, SATO
Found 1 text in 1 of 1 script" "" "$cli" find-text game/g.fl3 Bye
check "find-text of one script" 0 "Found no text holding \"Bye\" in 1 script" "" "$cli" find-text game/sub/loose.ab Bye
check "find-text: nothing found" 0 "Found no text holding \"zzz\" in 2 scripts" "" "$cli" find-text game zzz
check "find-text needs two operands" 2 "" "vidodide: find-text: give a GAME_OR_FOLDER and a TEXT
$hint" "$cli" find-text game
check "find-text: an empty TEXT" 2 "" "vidodide: find-text: the TEXT to find is empty
$hint" "$cli" find-text game ""
# cut.fl3: s.ab of 32 bytes from 28, past the end (the directory of 13
# bytes at 30).
printf 'FL3.\x30\x00\x00\x00\x1c\x00\x0d\x00\x00\x00\x1e\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00' >cut/cut.fl3
printf '\x20\x00\x00\x00\x04s.ab\xff\xff\xff\xff' >>cut/cut.fl3
printf '\x01\x00\x01\x00Bye\x00' >cut/a.ab
check "find-text: an archive cut short is told, the rest searched" 1 "a.ab:1: Bye
Found 1 text in 1 of 1 script" "Alert: $fdir/cut/cut.fl3 ends before its member s.ab does: it is not searched" \
    "$cli" find-text "$fdir/cut" Bye
cd "$work" || exit 1
