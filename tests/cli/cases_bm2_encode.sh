# encode-bm2 and decode-bm2 --png: sourced by run_cli_tests.sh after cases_bm2.sh.
e=$work/bm2enc
mkdir -p "$e"
cp "$work/samples/"*.bm2 "$e/"
check "encode-bm2 without files" 2 "" "vidodide: encode-bm2: no file given
$hint" "$cli" encode-bm2
check "encode-bm2 has no options" 2 "" "vidodide: encode-bm2: unknown option '--png'
$hint" "$cli" encode-bm2 --png "$e/title.png"
check "decode-bm2 --png, every kind" 0 "Decoding $e/coin32.bm2
Decoding $e/coin8.bm2
Decoding $e/title.bm2
Decoding OK" "" "$cli" decode-bm2 --png "$e/coin32.bm2" "$e/coin8.bm2" "$e/title.bm2"
check_in identify "the PNG files hold the pictures, with alpha where they had it" 0 \
    "coin32.png 40x32 srgba
coin8.png 37x30 srgba
title.png 160x120 srgb" "" identify -format '%f %wx%h %[channels]\n' "$e/coin32.png" "$e/coin8.png" "$e/title.png"
check "encode-bm2 of unedited PNG files" 0 "Encoding $e/coin32.png
Encoding $e/coin8.png
Encoding $e/title.png
Encoding OK" "" "$cli" encode-bm2 "$e/coin32.png" "$e/coin8.png" "$e/title.png"
"$cli" decode-bm2 "$e"/*.bm2 > /dev/null 2>&1
# Through the bitmaps: the ordinary and the 24-bit alpha image encode back;
# the 8-bit alpha bitmap has no alpha and is refused, changing nothing.
check "encode-bm2 of bitmaps" 1 "Encoding $e/title.bmP
Encoding $e/coin32.bmP
Encoding $e/coin8.bmP
Encoding: 1 of 3 files failed" "Alert: $e/coin8.bmP has no alpha, and $e/coin8.bm2 is an 8-bit alpha image: encode it from a PNG with its alpha (vidodide decode-bm2 --png writes one)" \
    "$cli" encode-bm2 "$e/title.bmP" "$e/coin32.bmP" "$e/coin8.bmP"
# A size that differs from the original's, and an image without an original.
bitmap24 2 01 02 03 04 05 06 00 00 > "$e/title.bmp"
cp "$e/title.bmp" "$e/tiny.bmp"
check "encode-bm2: the original's size is kept" 1 "Encoding $e/title.bmp
Encoding $e/tiny.bmp
Encoding: 1 of 2 files failed" "Alert: $e/title.bmp is 2x1 pixels, its original $e/title.bm2 is 160x120: an image must keep its original's width and height" \
    "$cli" encode-bm2 "$e/title.bmp" "$e/tiny.bmp"
