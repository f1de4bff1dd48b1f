# extract-fl3 ARCHIVE MEMBER...: only the members named, by name or wildcard
# in any case, into the member folder without _index.bin; --decode.
mem=$work/members
mkdir -p "$mem"
cd "$mem" || exit 1
# Three members: A.BIN "abc" at 28, b.txt "hello" at 31, c.bin "Z" at 36;
# the directory of 34 bytes at 37.
printf 'FL3.\x30\x00\x00\x00\x1c\x00\x22\x00\x00\x00\x25\x00\x00\x00\x03\x00\x00\x00\x00\x00\x00\x00\x00\x00abchelloZ\x03\x00\x00\x00\x05A.BIN\x05\x00\x00\x00\x05b.txt\x01\x00\x00\x00\x05c.bin\xff\xff\xff\xff' >t.fl3
for row in "a.bin|A.BIN|abc" "*.BIN|A.BIN c.bin|abcZ" "?.txt|b.txt|hello" "c*|c.bin|Z" "*|A.BIN b.txt c.bin|abchelloZ"; do
    IFS='|' read -r pattern names bytes <<<"$row"
    rm -rf t_fl3
    n=$(echo "$names" | wc -w)
    check "extract-fl3 t.fl3 '$pattern' writes $names" 0 "$(for f in $names; do echo "Extracting t.fl3:$f"; done)
Extracting OK: $n member$([ "$n" = 1 ] || echo s) written to t_fl3" "" \
        bash -c "'$cli' extract-fl3 t.fl3 '$pattern' && test ! -e t_fl3/_index.bin && test \"\$(ls t_fl3 | tr '\n' ' ')\" = '$names ' && test \"\$(cd t_fl3 && cat $names)\" = '$bytes'"
done
rm -rf t_fl3
check "a name no member has: nothing is extracted" 1 "" \
    "Alert: t.fl3 holds no member named b.bin, x*: nothing is extracted" \
    bash -c "'$cli' extract-fl3 t.fl3 --member b.bin --member 'x*' b.txt; r=\$?; test ! -e t_fl3/b.txt && exit \$r"
check "--member takes a name that is also a file here" 0 "*" "" \
    bash -c "cp t.fl3 b.txt && '$cli' extract-fl3 t.fl3 --member b.txt >/dev/null && cmp -s t_fl3/b.txt <(printf hello); r=\$?; rm b.txt; exit \$r"
check "--member needs a name" 2 "" "vidodide: extract-fl3: --member needs a NAME
$hint" "$cli" extract-fl3 t.fl3 --member
cd "$work" || exit 1
# An archive whose last member, c.bin of 40 bytes from byte 36, runs past
# its end (70 bytes): b.txt is written, c.bin is told as cut short, not as a
# write that failed.
cd "$mem" || exit 1
printf 'FL3.\x30\x00\x00\x00\x1c\x00\x22\x00\x00\x00\x24\x00\x00\x00\x03\x00\x00\x00\x00\x00\x00\x00\x00\x00abchello\x03\x00\x00\x00\x05A.BIN\x05\x00\x00\x00\x05b.txt\x28\x00\x00\x00\x05c.bin\xff\xff\xff\xff' >cut.fl3
rm -rf cut_fl3
check "a member past the archive's end is told as such" 1 "Extracting cut.fl3:b.txt
Extracting cut.fl3:c.bin
Extracting: 1 member written to cut_fl3, 1 not written" "Alert: cut.fl3 ends before its member c.bin does: it is not written" \
    bash -c "'$cli' extract-fl3 cut.fl3 b.txt c.bin; r=\$?; test ! -e cut_fl3/c.bin && exit \$r"
cd "$work" || exit 1
