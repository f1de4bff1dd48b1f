# decode-wv5: sourced by run_cli_tests.sh after cases_bm2.sh, whose helpers it uses.

# Samples: one and two channels, every run kind.
check_decode wv5 decode-wv5 v5 AV soxi ""
d=$work/wv5
mkdir -p "$d"
# The 18-byte header: channels, rate, frames, runs.
wv5_header() { printf 'wv5\0'; bin_u16 "$1"; bin_u32 "$2"; bin_u32 "$3"; bin_u32 "$4"; }
# One channel, one run of kind 0: samples 13, 0, 0.
{ wv5_header 1 8000 3 1; bin_hex 00 03 0a 8a 00; } > "$d/one.wv5"
# Three channels in the header: decoded as two.
{ wv5_header 3 11025 2 1; bin_hex 04 05; } > "$d/three.wv5"
# Announces 3 runs and 100 frames, holds one run and a cut one.
{ wv5_header 1 8000 100 3; bin_hex 05 01  00 09 01 01; } > "$d/cut.wv5"
# 17 bytes: shorter than the header.
head -c 17 /dev/zero > "$d/short.wv5"
long=$d/$(printf '%0260d' 0).wv5
# Channels, rate and samples per channel as sox reads them.
soxi_crs() { echo "$(soxi -c "$1") $(soxi -r "$1") $(soxi -s "$1")"; }

check "decode-wv5 failures counted" 1 "Decoding $d/one.wv5
Decoding $d/missing.wv5
Decoding $d/three.wv5
Decoding $d/cut.wv5
Decoding $d/short.wv5
Decoding: 4 of 6 files failed" "Alert: $d/missing.wv5 not found
Alert: $d/cut.wv5 ends early: 1 of its 3 runs decoded; the WAV file holds the samples decoded so far
Alert: $long
Path too long: more than 259 characters
Alert: $d/short.wv5 is not a WV5 sound: it ends inside its 18-byte header" \
    absent "$d/short.wAV" "$cli" decode-wv5 "$d/one.wv5" "$d/missing.wv5" "$d/three.wv5" "$d/cut.wv5" "$long" "$d/short.wv5"
check_in soxi "soxi one channel" 0 "1 8000 3" "" soxi_crs "$d/one.wAV"

check "decode-wv5 three channels as two: channels, bytes per second, block align" 0 "2 44100 4" "" \
    bash -c "echo \$(od -An -tu2 -j22 -N2 '$d/three.wAV') \$(od -An -tu4 -j28 -N4 '$d/three.wAV') \$(od -An -tu2 -j32 -N2 '$d/three.wAV')"
check_in soxi "soxi cut file" 0 "1 8000 7" "" soxi_crs "$d/cut.wAV"

# Complete files whose frame count disagrees with their runs: told, not
# failed; the WAV sizes follow the samples. One channel, frame count 100, a
# run of 5 samples; two channels, frame count 1, three samples; a frame
# count that matches (2 frames of two channels) says nothing.
{ wv5_header 1 8000 100 1; bin_hex 05 01; } > "$d/frames.wv5"
{ wv5_header 2 8000 1 1; bin_hex 00 03 01 01 01; } > "$d/odd.wv5"
{ wv5_header 2 8000 2 1; bin_hex 04 02; } > "$d/even.wv5"
check "decode-wv5 frame counts that disagree with the runs" 0 "Decoding $d/frames.wv5
Decoding $d/odd.wv5
Decoding $d/even.wv5
Decoding OK" "Alert: $d/frames.wv5: its header gives a frame count of 100, its runs decode to 5 frames; the WAV file's sizes follow the decoded samples
Alert: $d/odd.wv5: its header gives a frame count of 1, its runs decode to 1 frame and one sample; the WAV file's sizes follow the decoded samples" \
    "$cli" decode-wv5 "$d/frames.wv5" "$d/odd.wv5" "$d/even.wv5"
check "decode-wv5 frame count 100, 5 samples: the WAV bytes" 0 "52494646 30000000 57415645 666d7420 12000000 01000100 401f0000 803e0000 02001000 00006461 74610a00 00000100 02000300 04000500" "" \
    bash -c "od -An -v -tx1 '$d/frames.wAV' | tr -d ' \n' | fold -w8 | paste -sd' '"
