# encode-wv5: sourced by run_cli_tests.sh after cases_wv5.sh, whose helpers it uses.
e=$work/wv5enc
mkdir -p "$e"
# A WAV file: channels, rate, chunks before "fmt " and the sample bytes (both as printf formats).
wav() {
    local ch=$1 rate=$2 extra=$3 data=$4 size extra_size
    size=$(printf "$data" | wc -c)
    extra_size=$(printf "$extra" | wc -c)
    printf 'RIFF'; bin_u32 $((4 + extra_size + 24 + 8 + size)); printf 'WAVE'; printf "$extra"
    printf 'fmt '; bin_u32 16; bin_u16 1; bin_u16 "$ch"; bin_u32 "$rate"; bin_u32 $((rate * 2 * ch)); bin_u16 $((2 * ch)); bin_u16 16
    printf 'data'; bin_u32 "$size"; printf "$data"
}
# One channel at 8000 Hz: 13, 0, 0 (13 is the step of code 10).
wav 1 8000 "" '\x0d\x00\x00\x00\x00\x00' > "$e/one.wav"
# Two channels after a LIST chunk of odd size and its pad byte: (32767, 1), (-2, 1).
wav 2 11025 'LIST\x03\x00\x00\x00abc\x00' '\xff\x7f\x01\x00\xfe\xff\x01\x00' > "$e/two.wav"
# The original of one.wav, in upper case, of the same format: its first four bytes are kept.
{ printf 'KEEP'; bin_u16 1; bin_u32 8000; bin_u32 1; bin_u32 1; bin_hex 02 00; } > "$e/ONE.WV5"
cp "$e/ONE.WV5" "$e/first_original"

check "encode-wv5 with an original, kept; none without" 0 "Encoding $e/one.wav
Encoding $e/two.wav
Encoding OK" "" same "$e/ONE.WV5.orig=$e/first_original" absent "$e/two.wv5.orig" "$cli" encode-wv5 "$e/one.wav" "$e/two.wav"
# Leading bytes, 1 channel, 8000 Hz, 3 frames, 1 run: kind 0 of codes 10, 138, 0.
check "encode-wv5 one channel bytes" 0 "4b4545500100401f00000300000001000000""00030a8a00" "" hex_of "$e/ONE.WV5"
# Zeros, 2 channels, 11025 Hz, 2 frames, 1 run: 127 twice wraps to -2; 1 then 0 on the second channel.
check "encode-wv5 two channels bytes" 0 "000000000200112b00000200000001000000""00047f017f00" "" hex_of "$e/two.wv5"
check "encode-wv5 keeps the first original only" 0 "*" "" same "$e/ONE.WV5.orig=$e/first_original" "$cli" encode-wv5 "$e/one.wav"

# Bad WAV files: one Alert each, counted, and the WV5 beside them unchanged.
wav 1 8000 "" '\x01\x00\x02\x00' | head -c 46 > "$e/cut.wav"
cp "$e/first_original" "$e/cut.wv5"
check "encode-wv5 bad WAV files" 1 "Encoding $e/cut.wav
Encoding $e/missing.wav
Encoding: 2 of 2 files failed" "Alert: $e/cut.wav is cut short: its RIFF header announces 48 bytes, the file holds 46
Alert: $e/missing.wav not found" same "$e/cut.wv5=$e/first_original" "$cli" encode-wv5 "$e/cut.wav" "$e/missing.wav"

check "encode-wv5 bad WAV: no file made" 0 "ONE.WV5 ONE.WV5.orig cut.wv5 first_original two.wv5" "" \
    bash -c "ls '$e' | grep -v '\.wav$' | paste -sd' '"
check "encode-wv5 without files" 2 "" "vidodide: encode-wv5: no file given
$hint" "$cli" encode-wv5

# A decoded sound comes back sample for sample: decode, encode, decode again.
r=$e/round
mkdir -p "$r"
# Two channels whose runs give 7 samples: the WAV file ends inside a frame.
{ wv5_header 2 8000 3 3; bin_hex 00 01 0a  05 01  00 01 01; } > "$r/odd.wv5"
(cd "$r" && "$cli" decode-wv5 odd.wv5 > /dev/null 2>&1; cp odd.wAV odd.first &&
    "$cli" encode-wv5 odd.wAV > /dev/null && "$cli" decode-wv5 odd.wv5 > /dev/null 2>&1)
check "encode-wv5 odd sample count: 3 frames; code 10, then code 1 six times as one run" 0 "03000000 02000000 00010a 0601" "" \
    bash -c "echo \$(od -An -tx1 -j10 -N4 '$r/odd.wv5' | tr -d ' ') \$(od -An -tx1 -j14 -N4 '$r/odd.wv5' | tr -d ' ') \$(od -An -tx1 -j18 '$r/odd.wv5' | tr -d ' \n' | sed 's/^\(......\)/\1 /')"
check "encode-wv5 round trip of an odd sample count" 0 "" "" cmp "$r/odd.first" "$r/odd.wAV"
# A WAV file that sox writes: channels, rate and length survive.
if command -v sox > /dev/null; then
    sox -n -r 22050 -c 2 -b 16 "$e/tone.wav" synth 0.3 sine 440 sine 660 vol 0.5
    "$cli" encode-wv5 "$e/tone.wav" > /dev/null && "$cli" decode-wv5 "$e/tone.wv5" > /dev/null
    check "soxi encoded tone" 0 "2 22050 6615" "" soxi_crs "$e/tone.wAV"
    # As a sound editor saves it: 44.1 kHz float stereo over the 22,050 Hz mono original.
    sox -n -r 44100 -c 2 -e float -b 32 "$e/voice.wav" synth 0.5 sine 440 vol 0.5
    { printf 'KEEP'; bin_u16 1; bin_u32 22050; bin_u32 0; bin_u32 0; } > "$e/voice.wv5"
    check "encode-wv5 converts to the original's format" 0 "Encoding $e/voice.wav
Converted $e/voice.wav: 44100 Hz stereo 32-bit float -> 22050 Hz mono 16-bit; 0 samples clipped
Encoding OK" "" "$cli" encode-wv5 "$e/voice.wav"
    "$cli" decode-wv5 "$e/voice.wv5" > /dev/null
    check "soxi converted voice" 0 "1 22050 11025" "" soxi_crs "$e/voice.wAV"
fi
