#!/usr/bin/env bash
# The Windows command line (vidodide.exe) under Wine, for what only Windows
# paths have: drive-relative ("y:r.bmp") and rooted ("\r.bmp") names. Drive
# Y: is a link in the prefix's dosdevices folder to a folder of our own.
#
# With NATIVE_BUILD (for its sample maker), also a patch of VCDIFF deltas
# made and applied by the Windows program.
#
#   run_console_tests.sh MINGW_BUILD [NATIVE_BUILD]
set -u
build=$(cd "$1" && pwd)
exe=$build/vidodide.exe
[ -f "$exe" ] || { echo "missing $exe" >&2; exit 1; }

tmp=$(mktemp -d /tmp/vidodide-console.XXXXXX)
. "$(dirname "$0")/wine_display.sh"
cleanup() {
    wine_display_stop
    rm -rf "$tmp"
}
trap cleanup EXIT
wine_display_start "$tmp" || exit 1

pass=0
fail=0
check() {  # name command... (true when the command succeeds)
    local name=$1
    shift
    if "$@"; then
        pass=$((pass + 1)); echo "ok - $name"
    else
        fail=$((fail + 1)); echo "FAIL - $name"
    fi
}
bin_u16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))"; }
bin_u32() { bin_u16 $(($1 & 65535)); bin_u16 $(($1 >> 16 & 65535)); }
# A 1x1 24-bit bitmap of the colour $1 (three bytes as \x..), and a WAV file
# of one 16-bit sample $1 (two bytes).
bitmap() {
    printf 'BM'; bin_u32 58; bin_u32 0; bin_u32 54; bin_u32 40; bin_u32 1; bin_u32 1; bin_u16 1; bin_u16 24
    bin_u32 0; bin_u32 4; bin_u32 0; bin_u32 0; bin_u32 0; bin_u32 0; printf "$1\x00"
}
wav() {
    printf 'RIFF'; bin_u32 38; printf 'WAVEfmt '; bin_u32 16; bin_u16 1; bin_u16 1; bin_u32 8000; bin_u32 16000
    bin_u16 2; bin_u16 16; printf 'data'; bin_u32 2; printf "$1"
}
# vidodide.exe ARGS... run by cmd from the folder DIR (a Windows path).
run_in() {
    local dir=$1
    shift
    wine cmd /c "cd /d $dir && $(winpath "$exe") $*" 2>&1 | tr -d '\r' | sed 's/^/    /'
}

y=$tmp/ydrive
other=$tmp/other
mkdir -p "$y/sub" "$other"
ln -s "$y" "$WINEPREFIX/dosdevices/y:"
# On Y: a BM2 image and a WV5 sound, the templates; in the current folder on
# another drive, unrelated ones of the same names. (The current folder of
# drive Y: is its root: the process starts elsewhere.)
bitmap '\x01\x02\x03' > "$y/r.bmp"
wav '\x0d\x00' > "$y/w.wav"
bitmap '\x90\x80\x70' > "$other/r.bmp"
wav '\x00\x40' > "$other/w.wav"
run_in 'y:\' encode-bm2 r.bmp
run_in 'y:\' encode-wv5 w.wav
run_in "$(winpath "$other")" encode-bm2 r.bmp
run_in "$(winpath "$other")" encode-wv5 w.wav
rm "$other/r.bmp" "$other/w.wav"
for f in "$y/r.bm2" "$y/w.wv5" "$other/r.bm2" "$other/w.wv5"; do cp "$f" "$f.before"; done

run_in "$(winpath "$other")" encode-bm2 y:r.bmp
run_in "$(winpath "$other")" encode-wv5 y:w.wav
check "encode-bm2 y:r.bmp keeps Y:\\r.bm2 as its original" cmp -s "$y/r.bm2.orig" "$y/r.bm2.before"
check "encode-wv5 y:w.wav keeps Y:\\w.wv5 as its original" cmp -s "$y/w.wv5.orig" "$y/w.wv5.before"
check "the current folder's r.bm2 and w.wv5 are unchanged" \
    bash -c "cmp -s '$other/r.bm2' '$other/r.bm2.before' && cmp -s '$other/w.wv5' '$other/w.wv5.before'"
check "nothing new in the current folder" test "$(ls "$other" | paste -sd' ')" = "r.bm2 r.bm2.before w.wv5 w.wv5.before"

# A rooted name without a drive: the root of the current drive, never "\\r.bm2".
rm -f "$y"/*.bm2* "$y"/*.wv5*
run_in 'y:\sub' encode-bm2 '\r.bmp'
run_in 'y:\sub' encode-wv5 '\w.wav'
check "encode-bm2 \\r.bmp from Y:\\sub writes Y:\\r.bm2" test -s "$y/r.bm2"
check "encode-wv5 \\w.wav from Y:\\sub writes Y:\\w.wv5" test -s "$y/w.wv5"
check "nothing is left in Y:\\sub" test -z "$(ls "$y/sub")"

# Names that differ only in case are one file on Windows: a BM2 image named
# x.bmp decodes to x.bmP, itself.
cp "$y/r.bm2" "$y/x.bmp"
cp "$y/x.bmp" "$tmp/x.before"
run_in 'y:\' decode-bm2 x.bmp
check "decode-bm2 x.bmp leaves its input, which is its output" cmp -s "$y/x.bmp" "$tmp/x.before"
check "decode-bm2 x.bmp adds nothing" test "$(ls "$y" | grep -c '^x')" = 1

# A patch of VCDIFF deltas made and applied by the Windows program, which
# Debian's xdelta3 reads the same.
if [ -n "${2:-}" ]; then
    "$2/vidodide-samples" --game "$y/game" >/dev/null
    run_in 'y:\' unpack game work >/dev/null
    printf 'edited' >>"$y/work/data_fl3/readme.txt"
    run_in 'y:\' repack --delta work patch
    cp -r "$y/game" "$y/player"
    run_in 'y:\' apply-patch patch player
    check "repack --delta writes the archive as a delta" \
        test -s "$y/patch/data.fl3.vcdiff" -a -s "$y/patch/vidodide-patch.json" -a ! -e "$y/patch/data.fl3"
    check "apply-patch keeps the game's own archive as data.fl3.orig" cmp -s "$y/player/data.fl3.orig" "$y/game/data.fl3"
    check "Debian's xdelta3 makes of the delta what apply-patch made" bash -c \
        "xdelta3 -d -s '$y/game/data.fl3' '$y/patch/data.fl3.vcdiff' '$tmp/x.fl3' && cmp -s '$tmp/x.fl3' '$y/player/data.fl3'"
fi

echo "console: $pass passed, $fail failed"
[ "$fail" = 0 ] && [ "$pass" -gt 0 ]
