# decode-ab and encode-ab. Sourced by run_cli_tests.sh.

ab=$work/ab
mkdir -p "$ab"
# Init Text 1 with the voice mina01 and "Good morning."
printf '\x00\x00\x01\x00\\Vmina01.Good morning.\x00' >"$ab/scene.ab"

check "decode-ab without files" 2 "" "vidodide: decode-ab: no file given
$hint" "$cli" decode-ab --tree
check "encode-ab rejects --tree" 2 "" "vidodide: encode-ab: unknown option '--tree'
$hint" "$cli" encode-ab --tree "$ab/scene.txt"

check "decode-ab --tree" 0 "Scripting $ab/scene.ab
Init Text 0x0000
  Idx : 0x0001
  Play voice : mina01
  Text : Good morning.
Scripting OK
Decoding OK" "" "$cli" decode-ab --tree "$ab/scene.ab"

check "decode-ab batch with a missing file" 1 "Scripting $ab/none.ab
Scripting $ab/none.ab failed
Scripting $ab/scene.ab
Scripting OK
Decoding: 1 of 2 files failed" "Alert: $ab/none.ab not found" "$cli" decode-ab "$ab/none.ab" "$ab/scene.ab"

# Change one text line, encode to a new AB file: only that string differs.
sed 's/^Good morning\.$/Good evening./' "$ab/scene.txt" >"$ab/scene2.txt"
check "encode-ab edited listing" 0 "EnScripting $ab/scene2.txt
EnScripting OK
Encoding OK" "" "$cli" encode-ab "$ab/scene2.txt"
check "only the string changed" 1 "19 155 145
20 157 166
21 162 145" "" cmp -l "$ab/scene.ab" "$ab/scene2.ab"

printf '0x0002\nnone\n' >"$ab/bad.txt"
check "encode-ab line without a number" 1 "EnScripting $ab/bad.txt
EnScripting $ab/bad.txt failed
Encoding: 1 of 1 file failed" "Alert: $ab/bad.txt
Line 2 holds no number where the operand \"to\" of \"Set 0x453818\" (0x0002) was expected.
No AB file was written." "$cli" encode-ab "$ab/bad.txt"

# A zero byte in a value line (a hand-edited listing): the line is named, no AB file.
printf '0x0605\na\0b\n' >"$ab/zero.txt"
check "encode-ab line with a zero byte" 1 "EnScripting $ab/zero.txt
EnScripting $ab/zero.txt failed
Encoding: 1 of 1 file failed" "Alert: $ab/zero.txt: line 2 holds a zero byte
No AB file was written." absent "$ab/zero.ab" "$cli" encode-ab "$ab/zero.txt"

# A script that cannot be opened keeps the older listing beside it.
printf 'older listing' >"$ab/held.txt"; printf '\x01\x06' >"$ab/held.ab"
cp "$ab/held.txt" "$ab/older.txt"
check "decode-ab of a held script: the older listing stays" 1 "*" "Alert: $ab/held.ab is in use by another program" \
    same "$ab/held.txt=$ab/older.txt" flock "$ab/held.ab" "$cli" decode-ab "$ab/held.ab"
