# decode-bm2: sourced by run_cli_tests.sh (uses check, $cli, $samples, $work).

bm2_dir=$work/bm2
mkdir -p "$bm2_dir"

# Bytes from hexadecimal pairs: bm2_hex 42 4d ... > file
bm2_hex() { local b; for b in "$@"; do printf "\\x$b"; done; }
# A little-endian 32-bit value.
bm2_u32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))\\x$(printf %02x $(($1 >> 16 & 255)))\\x$(printf %02x $(($1 >> 24 & 255)))"; }
# A BM2 file holding the bytes of file $1 as LZSS literals (a flag byte
# 0xff before every 8 bytes), with the header's sizes.
bm2_pack() {
    local size packed
    size=$(wc -c < "$1")
    od -An -v -tx1 "$1" | tr -s ' \n' '\n\n' | sed '/^$/d' |
        awk '{ if ((NR - 1) % 8 == 0) printf "ff\n"; print }' > "$1.hex"
    packed=$(wc -l < "$1.hex")
    printf 'header\0\0'
    bm2_u32 "$packed"
    bm2_u32 "$size"
    while read -r b; do printf "\\x$b"; done < "$1.hex"
}

# An ordinary image: a 2 x 2 24-bit bitmap file.
{ printf 'BM'; bm2_u32 70; bm2_u32 0; bm2_u32 54; bm2_u32 40; bm2_u32 2; bm2_u32 2; bm2_hex 01 00 18 00
  bm2_u32 0; bm2_u32 16; bm2_u32 0; bm2_u32 0; bm2_u32 0; bm2_u32 0
  bm2_hex ff 00 00 00 ff 00 00 00 00 00 ff ff ff ff 00 00; } > "$bm2_dir/plain.bmp"
# 24-bit alpha, 3 x 2.
{ printf 'BM2A\0\0\0\0'; bm2_hex 18 00 00 00 00 00 03 00 02 00 00 00 00 00
  for i in 1 2 3 4 5 6; do bm2_hex 10 20 30 80; done; } > "$bm2_dir/a24.raw"
# 8-bit alpha, 3 x 2: a grey colour table and index-alpha pairs.
{ printf 'BM2A\0\0\0\0'; bm2_hex 08 00 00 00 00 00 03 00 02 00 00 00 00 00
  for ((i = 0; i < 256; i++)); do printf -v h %02x "$i"; bm2_hex "$h" "$h" "$h" 00; done
  bm2_hex 01 ff 02 ff 03 ff 04 80 05 80 06 80; } > "$bm2_dir/a8.raw"
# 16-bit alpha: refused.
{ printf 'BM2A\0\0\0\0'; bm2_hex 10 00 00 00 00 00 01 00 01 00 00 00 00 00 00 00; } > "$bm2_dir/a16.raw"
for f in plain.bmp a24.raw a8.raw a16.raw; do bm2_pack "$bm2_dir/$f" > "$bm2_dir/${f%.*}.bm2"; done
# A file whose header announces more packed data than it holds.
{ printf 'header\0\0'; bm2_u32 1000; bm2_u32 10; bm2_hex ff 41; } > "$bm2_dir/liar.bm2"

d=$bm2_dir
warn="Alert: 8bits alpha BMP are not correctly decoded
It's only to view not mod"
check "decode-bm2 three images" 0 "Decoding $d/plain.bm2
Decoding $d/a24.bm2
Decoding $d/a8.bm2
Decoding OK" "$warn" "$cli" decode-bm2 "$d/plain.bm2" "$d/a24.bm2" "$d/a8.bm2"
check "decode-bm2 ordinary image unchanged" 0 "" "" cmp "$d/plain.bmp" "$d/plain.bmP"
check "decode-bm2 32-bit size" 0 "78" "" stat -c %s "$d/a24.bmP"
check "decode-bm2 8-bit size" 0 "1086" "" stat -c %s "$d/a8.bmP"
check "decode-bm2 failures counted" 1 "Decoding $d/a16.bm2
Decoding $d/missing.bm2
Decoding $d/plain.bm2
Decoding: 2 of 3 files failed" "Alert: Decode 8 or 24 bits alpha BMP only
Alert: $d/missing.bm2 not found" "$cli" decode-bm2 "$d/a16.bm2" "$d/missing.bm2" "$d/plain.bm2"
check "decode-bm2 empty output for 16 bits" 0 "0" "" stat -c %s "$d/a16.bmP"
check "decode-bm2 file that lies" 1 "Decoding $d/liar.bm2
Decoding: 1 of 1 file failed" "Alert: $d/liar.bm2 is damaged: its header announces 1000 bytes of packed data, the file holds 2" \
    "$cli" decode-bm2 "$d/liar.bm2"
check "decode-bm2 without files" 2 "" "vidodide: decode-bm2 needs at least one FILE
Try 'vidodide --help' for more information." "$cli" decode-bm2

if command -v identify > /dev/null; then
    check "identify ordinary" 0 "2 2" "" identify -format '%w %h' "$d/plain.bmP"
    check "identify 32-bit alpha" 0 "3 2" "" identify -format '%w %h' "$d/a24.bmP"
    check "identify 8-bit alpha" 0 "3 2 6" "" identify -format '%w %h %k' "$d/a8.bmP"
else
    echo "note: ImageMagick identify is not installed; the bitmap files were not opened in it"
fi

# The sample generator's images, when it writes any.
mkdir -p "$work/bm2_samples"
"$samples" "$work/bm2_samples" > /dev/null 2>&1
mapfile -t bm2_samples < <(find "$work/bm2_samples" -name '*.bm2' | sort)
if [ "${#bm2_samples[@]}" -gt 0 ]; then
    check "decode-bm2 samples" 0 "*" "*" "$cli" decode-bm2 "${bm2_samples[@]}"
    if command -v identify > /dev/null; then
        for f in "${bm2_samples[@]}"; do check "identify sample ${f##*/}" 0 "*" "" identify "${f%?}P"; done
    fi
else
    echo "note: the sample generator wrote no BM2 images; samples not decoded"
fi
