# decode-wv5: sourced by run_cli_tests.sh (uses check, $cli, $samples, $work).

wv5_dir=$work/wv5
mkdir -p "$wv5_dir"

wv5_hex() { local b; for b in "$@"; do printf "\\x$b"; done; }
wv5_u16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))"; }
wv5_u32() { wv5_u16 $(($1 & 65535)); wv5_u16 $(($1 >> 16 & 65535)); }
# The 18-byte header: channels, rate, frames, runs.
wv5_header() { printf 'wv5\0'; wv5_u16 "$1"; wv5_u32 "$2"; wv5_u32 "$3"; wv5_u32 "$4"; }

d=$wv5_dir
# One channel, one run of kind 0: samples 13, 0, 0.
{ wv5_header 1 8000 3 1; wv5_hex 00 03 0a 8a 00; } > "$d/one.wv5"
# Two channels, every run kind: 256 + 3 + 300 + 5 samples, 282 frames.
{ wv5_header 2 22050 282 4
  wv5_hex 01; for ((i = 0; i < 256; i++)); do printf -v h %02x $(((i * 37) & 255)); wv5_hex "$h"; done
  wv5_hex 00 03 01 02 03  03 2c 01 01  05 81; } > "$d/two.wv5"
# Three channels in the header: decoded as two.
{ wv5_header 3 11025 2 1; wv5_hex 04 05; } > "$d/three.wv5"
# Announces 3 runs and 100 frames, holds one run and a cut one.
{ wv5_header 1 8000 100 3; wv5_hex 05 01  00 09 01 01; } > "$d/cut.wv5"

check "decode-wv5 three sounds" 0 "Decoding $d/one.wv5
Decoding $d/two.wv5
Decoding $d/three.wv5
Decoding OK" "" "$cli" decode-wv5 "$d/one.wv5" "$d/two.wv5" "$d/three.wv5"
check "decode-wv5 one channel bytes" 0 "52494646 2c000000 57415645 666d7420 12000000 01000100 401f0000 803e0000 02001000 00006461 74610600 00000d00 00000000" "" \
    bash -c "od -An -v -tx1 '$d/one.wAV' | tr -d ' \n' | fold -w8 | paste -sd' '"
check "decode-wv5 two channels size" 0 "1174" "" stat -c %s "$d/two.wAV"
check "decode-wv5 cut file" 1 "Decoding $d/cut.wv5
Decoding: 1 of 1 file failed" "Alert: $d/cut.wv5 ends early: 1 of its 3 runs decoded; the WAV file holds the samples decoded so far" \
    "$cli" decode-wv5 "$d/cut.wv5"
check "decode-wv5 cut file sizes" 0 "52 14" "" \
    bash -c "echo \$(od -An -tu4 -j4 -N4 '$d/cut.wAV') \$(od -An -tu4 -j42 -N4 '$d/cut.wAV')"
check "decode-wv5 failures counted" 1 "Decoding $d/missing.wv5
Decoding $d/one.wv5
Decoding: 1 of 2 files failed" "Alert: $d/missing.wv5 not found" "$cli" decode-wv5 "$d/missing.wv5" "$d/one.wv5"
check "decode-wv5 without files" 2 "" "vidodide: decode-wv5 needs at least one FILE
Try 'vidodide --help' for more information." "$cli" decode-wv5

if command -v soxi > /dev/null; then
    check "soxi one channel" 0 "1 8000 3 16" "" bash -c "echo \$(soxi -c '$d/one.wAV') \$(soxi -r '$d/one.wAV') \$(soxi -s '$d/one.wAV') \$(soxi -b '$d/one.wAV')"
    check "soxi two channels" 0 "2 22050 282" "" bash -c "echo \$(soxi -c '$d/two.wAV') \$(soxi -r '$d/two.wAV') \$(soxi -s '$d/two.wAV')"
    check "soxi three channels as two" 0 "2 2" "" bash -c "echo \$(soxi -c '$d/three.wAV') \$(soxi -s '$d/three.wAV')"
    check "soxi cut file" 0 "7" "" soxi -s "$d/cut.wAV"
else
    echo "note: sox (soxi) is not installed; the WAV files were not opened in it"
fi

# The sample generator's sounds, when it writes any.
mkdir -p "$work/wv5_samples"
"$samples" "$work/wv5_samples" > /dev/null 2>&1
mapfile -t wv5_samples < <(find "$work/wv5_samples" -name '*.wv5' | sort)
if [ "${#wv5_samples[@]}" -gt 0 ]; then
    check "decode-wv5 samples" 0 "*" "" "$cli" decode-wv5 "${wv5_samples[@]}"
    if command -v soxi > /dev/null; then
        for f in "${wv5_samples[@]}"; do check "soxi sample ${f##*/}" 0 "*" "" soxi "${f%??}AV"; done
    fi
else
    echo "note: the sample generator wrote no WV5 sounds; samples not decoded"
fi
