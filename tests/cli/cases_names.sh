# Output names: an input is never its own output, a decoded file never takes
# the place of an archive's member. Sourced after cases_bm2.sh (helpers, samples).
n=$work/names
mkdir -p "$n/own" "$n/m"
# A 1x1 24-bit bitmap, and a WAV file of one channel at 8000 Hz holding the sample 13.
bitmap1() { bitmap24 1 01 02 03 00; }
wav1() {
    printf 'RIFF'; bin_u32 38; printf 'WAVEfmt '; bin_u32 16; bin_u16 1; bin_u16 1; bin_u32 8000; bin_u32 16000
    bin_u16 2; bin_u16 16; printf 'data'; bin_u32 2; bin_hex 0d 00
}
# Inputs whose output name is their own (by name, by case, by hard link).
cp "$work/samples/title.bm2" "$n/own/x.png"
cp "$work/samples/title.bm2" "$n/own/y.bmP"
cp "$(ls "$work/samples/"*.wv5 | head -1)" "$n/own/z.wAV"
printf '\x00\x00\x01\x00\\Vmina01.Hi.\x00' > "$n/own/s.ab"
ln "$n/own/s.ab" "$n/own/s.txt"
bitmap1 > "$n/own/b.bm2"
wav1 > "$n/own/w.wv5"
(cd "$n/own" && for f in *; do cp "$f" "../$f.before"; done)
# refused_outputs FOLDER WHAT-THE-OUTPUT-IS, a row of stdin per input: command|input|output|
# member|verb|progress texts; NAME stands for the input, MEMBER for the member.
refused_outputs() {
    local cmd in out member verb texts what
    while IFS='|' read -r cmd in out member verb texts; do
        texts=${texts//NAME/$1/$in} what=${2//NAME/$1/$in} what=${what//MEMBER/$member}
        check "$cmd $in: the output $out is $what" 1 "$(printf '%b' "$texts")
$verb: 1 of 1 file failed" "Alert: $1/$out is not written: it is $what, which stays as it is" "$cli" $cmd "$1/$in"
    done
}
refused_outputs "$n/own" "the input NAME itself" <<'TABLE'
decode-bm2 --png|x.png|x.png||Decoding|Decoding NAME
decode-bm2|y.bmP|y.bmP||Decoding|Decoding NAME
decode-wv5|z.wAV|z.wAV||Decoding|Decoding NAME
decode-ab|s.ab|s.txt||Decoding|Scripting NAME\nScripting NAME failed
encode-bm2|b.bm2|b.bm2||Encoding|Encoding NAME
encode-wv5|w.wv5|w.wv5||Encoding|Encoding NAME
TABLE
check "own outputs: every input unchanged, nothing added" 0 "" "" \
    bash -c "cd '$n/own' && for f in *; do cmp \"\$f\" \"../\$f.before\" || exit 1; done; [ \$(ls | wc -l) = 7 ]"

# A member folder whose index lists (in other cases) the names that decoding would make.
m=$n/m
{ for name in INTRO.TXT logo.bmp voice1.wav Pic.PNG logo.bm2; do bin_u32 1; bin_hex "$(printf %02x ${#name})"; printf '%s' "$name"; done
  bin_hex ff ff ff ff; } > "$m/_INDEX.BIN"
printf '\x00\x00\x01\x00\\Vmina01.Hi.\x00' > "$m/intro.ab"
cp "$work/samples/title.bm2" "$m/logo.bm2"
cp "$work/samples/title.bm2" "$m/pic.bm2"
cp "$work/samples/title.bm2" "$m/free.bm2"
cp "$(ls "$work/samples/"*.wv5 | head -1)" "$m/voice1.wv5"
for f in intro.txt logo.bmp voice1.wav; do echo "member $f" > "$m/$f"; done
(cd "$m" && for f in *; do cp "$f" "../$f.before"; done)
refused_outputs "$m" "the member MEMBER of $m/_INDEX.BIN" <<'TABLE'
decode-ab|intro.ab|intro.txt|INTRO.TXT|Decoding|Scripting NAME\nScripting NAME failed
decode-bm2|logo.bm2|logo.bmP|logo.bmp|Decoding|Decoding NAME
decode-bm2 --png|pic.bm2|pic.png|Pic.PNG|Decoding|Decoding NAME
decode-wv5|voice1.wv5|voice1.wAV|voice1.wav|Decoding|Decoding NAME
TABLE
check "decode-bm2 of a file that is no member" 0 "Decoding $m/free.bm2
Decoding OK" "" "$cli" decode-bm2 "$m/free.bm2"
check "members unchanged, only the free bitmap added" 0 "" "" \
    bash -c "cd '$m' && for f in *; do [ \"\$f\" = free.bmP ] || cmp \"\$f\" \"../\$f.before\" || exit 1; done; [ \$(ls | wc -l) = 10 ]"
# An encoder's output replaces its member: that is what it is for.
bitmap1 > "$m/logo.bmp"
rm "$m/logo.bm2"
check "encode-bm2 replaces the member logo.bm2" 0 "Encoding $m/logo.bmp
Encoding OK" "*" "$cli" encode-bm2 "$m/logo.bmp"

# Originals: whatever stands at STEM.bm2.orig, the original's bytes are kept;
# an .orig only ever holds a file that was there before the run.
o=$n/orig
mkdir -p "$o"
for s in a b; do cp "$work/samples/title.bm2" "$o/$s.bm2"; done
"$cli" decode-bm2 "$o/a.bm2" > /dev/null
cp "$o/a.bmP" "$o/b.bmP"
echo unrelated > "$o/unrelated"
ln -s "$o/nowhere" "$o/a.bm2.orig"
ln -s "$o/unrelated" "$o/b.bm2.orig"
wav1 > "$o/w.wav"
"$cli" encode-wv5 "$o/w.wav" > /dev/null
cp "$o/w.wv5" "$o/w.first"
ln -s nowhere "$o/w.wv5.orig"
check "encode-bm2 and encode-wv5 with links at the .orig names: the links gave way to the originals, the linked file unchanged" 0 "unrelated" "" bash -c \
    "'$cli' encode-bm2 '$o/a.bmP' '$o/b.bmP' >/dev/null && '$cli' encode-wv5 '$o/w.wav' >/dev/null &&
     for f in a.bm2 b.bm2 w.wv5; do [ ! -L '$o/'\$f.orig ] || exit 1; done
     cmp '$o/a.bm2.orig' '$work/samples/title.bm2' && cmp '$o/b.bm2.orig' '$work/samples/title.bm2' &&
     cmp '$o/w.wv5.orig' '$o/w.first' && cat '$o/unrelated'"
# Two inputs of one stem, and one WAV file twice, without an original before.
bitmap1 > "$o/t.bmp"
cp "$o/t.bmp" "$o/t.bmP"
wav1 > "$o/u.wav"
check "two inputs of one stem in one run, on 4 workers: no .orig of a file made in the same run" 0 "t.bm2 u.wv5" "" bash -c \
    "'$cli' encode-bm2 -j 4 '$o/t.bmp' '$o/t.bmP' >/dev/null && '$cli' encode-wv5 -j 4 '$o/u.wav' '$o/u.wav' >/dev/null &&
     cd '$o' && ls t.* u.* | grep -v '\.\(bmp\|bmP\|wav\)$' | paste -sd' '"

# Templates that are not what their names say, and names that are only an extension.
t=$n/tmpl
mkdir -p "$t"
wav1 > "$t/d.wav"
ln -s nowhere "$t/d.wv5"
bitmap1 > "$t/d.bmp"
ln -s nowhere "$t/d.bm2"
wav1 > "$t/r.wav"
wav1 > "$t/r.wv5"
check "encode-wv5: a dangling link and a WAV file as the templates" 1 "Encoding $t/d.wav
Encoding $t/r.wav
Encoding: 2 of 2 files failed" "Alert: $t/d.wv5 is a symbolic link that leads to no file
Alert: $t/r.wv5 is a WAV file, not a WV5 sound: it cannot be the original that the new sound replaces" \
    "$cli" encode-wv5 "$t/d.wav" "$t/r.wav"
check "encode-bm2: a dangling link as the template" 1 "Encoding $t/d.bmp
Encoding: 1 of 1 file failed" "Alert: $t/d.bm2 is a symbolic link that leads to no file" "$cli" encode-bm2 "$t/d.bmp"
check "decode-bm2: a dangling link as the input" 1 "Decoding $t/d.bm2
Decoding: 1 of 1 file failed" "Alert: $t/d.bm2 is a symbolic link that leads to no file" "$cli" decode-bm2 "$t/d.bm2"
check "the templates are unchanged" 0 "nowhere nowhere" "" bash -c "readlink '$t/d.wv5' '$t/d.bm2' | paste -sd' ' && cmp '$t/r.wv5' '$t/r.wav'"
mkdir -p "$t/dot"
bitmap1 > "$t/dot/.bmp"
cp "$work/samples/title.bm2" "$t/dot/.bm2"
check "names that are only an extension: their outputs .bmp.bm2, .bmP, .bm2.png" 0 ".bm2 .bm2.png .bmP .bmp .bmp.bm2" "" bash -c \
    "{ '$cli' encode-bm2 '$t/dot/.bmp' && '$cli' decode-bm2 '$t/dot/.bm2' && '$cli' decode-bm2 --png '$t/dot/.bm2'; } >/dev/null && ls -A '$t/dot' | paste -sd' '"

