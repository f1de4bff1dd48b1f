# decode-bm2: sourced by run_cli_tests.sh (uses check, $cli, $samples, $work, $hint).
# The helpers here serve cases_wv5.sh too, which is sourced after this file.

# Bytes from hexadecimal pairs, and little-endian 16- and 32-bit values.
bin_hex() { local b; for b in "$@"; do printf "\\x$b"; done; }
bin_u16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))"; }
bin_u32() { bin_u16 $(($1 & 65535)); bin_u16 $(($1 >> 16 & 65535)); }
hex_of() { od -An -v -tx1 "$1" | tr -d ' \n'; }
# A 24-bit bitmap of WIDTH x 1 holding the row bytes given in hexadecimal: bitmap24 WIDTH HEX...
bitmap24() {
    local w=$1; shift
    printf 'BM'; bin_u32 $((54 + $#)); bin_u32 0; bin_u32 54; bin_u32 40; bin_u32 "$w"; bin_u32 1; bin_u16 1; bin_u16 24
    bin_u32 0; bin_u32 $#; bin_u32 0; bin_u32 0; bin_u32 0; bin_u32 0; bin_hex "$@"
}
# The check, when the program that opens the outputs is installed: check_in TOOL NAME STATUS STDOUT STDERR CMD...
check_in() {
    if command -v "$1" > /dev/null; then shift; check "$@"; else echo "note: $1 is not installed; '$2' not checked"; fi
}
# A decode command on the sample generator's files of one kind, its texts,
# its usage error without files, and each output opened in TOOL:
# check_decode EXT COMMAND SUFFIX NEW-SUFFIX TOOL STDERR
check_decode() {
    [ -d "$work/samples" ] || { mkdir -p "$work/samples" && "$samples" "$work/samples" > /dev/null; }
    local f files
    mapfile -t files < <(find "$work/samples" -name "*.$1" | sort)
    check "$2 samples" 0 "$(printf 'Decoding %s\n' "${files[@]}")
Decoding OK" "$6" "$cli" "$2" "${files[@]}"
    for f in "${files[@]}"; do check_in "$5" "$5 sample ${f##*/}" 0 "*" "" "$5" "${f%"$3"}$4"; done
    check "$2 without files" 2 "" "vidodide: $2: no file given
$hint" "$cli" "$2"
}

# Samples: an ordinary image, 24-bit alpha and 8-bit alpha of an odd width.
check_decode bm2 decode-bm2 2 P identify "Alert: $work/samples/coin8.bm2: 8bits alpha BMP are not correctly decoded: its bitmap is only to view, not to mod; decode-bm2 --png (or Decode BM2 to PNG) keeps the alpha"
d=$work/bm2
mkdir -p "$d"
# 16-bit alpha, refused: 24 bytes in three groups of eight literals.
{ printf 'header\0\0'; bin_u32 27; bin_u32 24; printf '\xffBM2A\0\0\0\0\xff'; bin_hex 10 00 00 00 00 00 01 00
  bin_hex ff 01 00 00 00 00 00 00 00; } > "$d/a16.bm2"
# A file whose header announces more packed data than it holds.
{ printf 'header\0\0'; bin_u32 1000; bin_u32 10; bin_hex ff 41; } > "$d/liar.bm2"
# A bit count of 16 beside an older bitmap: it stays.
printf 'older bitmap' > "$d/a16.bmP"
check "decode-bm2 failures counted" 1 "Decoding $d/a16.bm2
Decoding $d/missing.bm2
Decoding $d/liar.bm2
Decoding $work/samples/title.bm2
Decoding: 3 of 4 files failed" "Alert: Decode 8 or 24 bits alpha BMP only
Alert: $d/missing.bm2 not found
Alert: $d/liar.bm2 is damaged: its header announces 1000 bytes of packed data, the file holds 2" \
    "$cli" decode-bm2 "$d/a16.bm2" "$d/missing.bm2" "$d/liar.bm2" "$work/samples/title.bm2"

check "decode-bm2 refused bit count: the older bitmap stays" 0 "older bitmap" "" cat "$d/a16.bmP"
