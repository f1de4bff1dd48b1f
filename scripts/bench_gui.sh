#!/usr/bin/env bash
# The GUI benchmark (not a test): the real Vidodide.exe under Wine on a
# virtual display, driven by vdriver.exe, against the command line on the
# same generated files in the same run.
#
#   - Decode AB and Encode AB of one large script (SCRIPT_KIB, default 512):
#     from Open in the file dialog to the Scripting dialog shown with every
#     item; the command line's decode-ab and encode-ab of the same files.
#   - Extract FL3 of a large archive (ARCHIVE_MEMBERS members, default 2000,
#     ARCHIVE_MIB MiB of member data, default 640): from Open to the status
#     line's "Extracting OK"; the Linux command line's extract-fl3, and the
#     Windows command line (vidodide.exe) under the same Wine.
#
#   - The browser: an archive of 65,535 members chosen in its tree until the
#     list holds them all (target 1 s), a picture of 1920 x 1080 chosen in the
#     list until its preview is shown (target 0.1 s), and the program's peak
#     working set (target 64 MiB and what is shown).
#
#   scripts/bench_gui.sh [MINGW_BUILD NATIVE_BUILD]
#
# BENCH_PARTS="script archive browser" (the default) chooses the parts; BENCH_SHOTS=FOLDER
# keeps the pictures of the two Scripting dialogs and the trees they showed.
#
# Without build folders it builds the mingw and native presets. Scratch files
# (about twice the archive) go to BENCH_DIR (default /tmp) and are removed
# afterwards, as are the X server and the Wine prefix it starts.
set -eu
cd "$(dirname "$0")/.."
if [ $# -ge 2 ]; then
    mingw=$(cd "$1" && pwd)
    native=$(cd "$2" && pwd)
else
    bash scripts/install-deps.sh
    cmake --preset native >/dev/null && cmake --build --preset native -j2
    cmake --preset mingw >/dev/null && cmake --build --preset mingw -j2
    mingw=$PWD/build/mingw
    native=$PWD/build/native
fi
exe=$mingw/Vidodide.exe
driver=$mingw/tests/gui/vdriver.exe
cli=$native/vidodide
for f in "$exe" "$driver" "$mingw/vidodide.exe" "$cli" "$native/vidodide-samples"; do
    [ -f "$f" ] || { echo "missing $f" >&2; exit 1; }
done

tmp=$(mktemp -d "${BENCH_DIR:-/tmp}/vidodide-bench-gui.XXXXXX")
. tests/gui/wine_display.sh
cleanup() {
    wine_display_stop
    rm -rf "$tmp"
}
trap cleanup EXIT

# seconds CMD...: the wall-clock time of the command (its output dropped).
seconds() {
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; return 1; }
    t1=$(date +%s.%N)
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }'
}
# best3 CMD...: the shortest of three runs.
best3() {
    local best= s
    for _ in 1 2 3; do
        s=$(seconds "$@")
        best=$(awk -v a="${best:-$s}" -v b="$s" 'BEGIN { printf "%.3f", (b < a ? b : a) }')
    done
    echo "$best"
}
# The member folder's contents as one checksum; the folder is removed.
folder_sum() {
    (cd "$1" && find . -type f -print0 | sort -z | xargs -0 md5sum | md5sum | cut -c1-32)
    rm -rf "$1"
}

parts=" ${BENCH_PARTS:-script archive browser} "
shots=${BENCH_SHOTS:-$tmp/shots}
mkdir -p "$shots"

# The inputs, the same bytes on every run.
work=$tmp/work
mkdir -p "$work/script" "$work/listing" "$work/archive" "$work/cli/enc"
"$native/vidodide-samples" --script "${SCRIPT_KIB:-512}" "$work/script/big.ab" >/dev/null
if [[ $parts == *" browser "* ]]; then
    mkdir -p "$work/browse"
    "$native/vidodide-samples" --archive 65535 64 "$work/browse/most.fl3" >/dev/null
    convert -size 1920x1080 plasma:fractal -depth 8 "BMP3:$work/browse/picture.bmp"
    (cd "$work/browse" && "$cli" encode-bm2 picture.bmp >/dev/null && rm picture.bmp)
fi
if [[ $parts == *" archive "* ]]; then
    "$native/vidodide-samples" --archive "${ARCHIVE_MEMBERS:-2000}" "${ARCHIVE_MIB:-640}" "$work/archive/big.fl3" >/dev/null
fi
cp "$work/script/big.ab" "$work/cli/"
(cd "$work/cli" && "$cli" decode-ab --tree big.ab | sed 1d | head -n -2 >"$work/big.tree")
cp "$work/cli/big.txt" "$work/listing/"
cp "$work/cli/big.txt" "$work/cli/enc/"
items=$(wc -l <"$work/big.tree")
script_bytes=$(stat -c %s "$work/script/big.ab")

# The command line.
cli_decode=$(cd "$work/cli" && best3 "$cli" decode-ab big.ab)
cli_encode=$(cd "$work/cli/enc" && best3 sh -c 'rm -f big.ab && "$0" encode-ab big.txt' "$cli")
if [[ $parts == *" archive "* ]]; then
    archive_bytes=$(stat -c %s "$work/archive/big.fl3")
    sync
    cli_extract=$(cd "$work/archive" && seconds "$cli" extract-fl3 big.fl3)
    cli_sum=$(folder_sum "$work/archive/big_fl3")
fi

# The program, and vidodide.exe under the same Wine.
wine_display_start "$tmp"
report=$tmp/report.txt
touch "$report"
drive() {
    timeout 1800 wine "$driver" "$1" "$(winpath "$exe")" "$(winpath "$work")" "$(winpath "$shots")" \
        | tr -d '\r' | tee -a "$report"
}
if [[ $parts == *" script "* ]]; then
    drive bench-scripting
fi
if [[ $parts == *" browser "* ]]; then
    drive bench-browser
fi
if [[ $parts == *" archive "* ]]; then
    sync
    drive bench-extract
    gui_sum=$(folder_sum "$work/archive/big_fl3")
    sync
    drive bench-extract-cli
    wine_sum=$(folder_sum "$work/archive/big_fl3")
fi
for f in "$shots"/*.bmp; do
    [ -e "$f" ] && convert "$f" "${f%.bmp}.png" && rm -f "$f"
done

figure() { sed -n "s/^time $1 //p" "$report" | tail -n 1; }
gui_decode=$(figure decode-ab-dialog)
gui_encode=$(figure encode-ab-dialog)
gui_extract=$(figure extract-fl3-gui)
wine_extract=$(figure extract-fl3-wine-cli)
wine_start=$(figure wine-cli-start)
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a != "" && b > 0) printf "%.1f", a / b; else printf "-" }'; }

echo
echo "GUI under Wine (from Open) against the command line, same files, same run"
printf '%-48s %10s %10s %7s\n' "" "GUI" "command" "ratio"
printf '%-48s %10s %10s %7s\n' "Decode AB, $script_bytes bytes, $items items" "${gui_decode:--} s" "$cli_decode s" \
    "$(ratio "$gui_decode" "$cli_decode")"
printf '%-48s %10s %10s %7s\n' "Encode AB of its listing" "${gui_encode:--} s" "$cli_encode s" \
    "$(ratio "$gui_encode" "$cli_encode")"
same=yes
if [[ $parts == *" archive "* ]]; then
    printf '%-48s %10s %10s %7s\n' "Extract FL3, $archive_bytes bytes, ${ARCHIVE_MEMBERS:-2000} members" \
        "${gui_extract:--} s" "$cli_extract s" "$(ratio "$gui_extract" "$cli_extract")"
    printf '%-48s %10s %10s %7s\n' "  the same, vidodide.exe under the same Wine" "${wine_extract:--} s" "$cli_extract s" \
        "$(ratio "$wine_extract" "$cli_extract")"
    echo "  (vidodide.exe's figure includes starting a Wine process: ${wine_start:--} s for --version)"
    [ "$gui_sum" = "$cli_sum" ] && [ "$wine_sum" = "$cli_sum" ] || same=NO
    echo "member folders identical (GUI, vidodide.exe, command line): $same"
fi
if [[ $parts == *" browser "* ]]; then
    echo
    echo "Browser under Wine"
    printf '%-48s %10s\n' "65,535 members listed (target 1 s)" "$(figure browser-list-65535) s"
    printf '%-48s %10s\n' "1920 x 1080 picture previewed (target 0.1 s)" "$(figure browser-preview-2mp) s"
    printf '%-48s %10s\n' "peak working set" "$(sed -n 's/^memory browser-peak-mib //p' "$report" | tail -n 1) MiB"
fi
failed=$(grep -c '^FAIL - ' "$report" || true)
echo "checks: $(grep -c '^ok - ' "$report" || true) passed, $failed failed"
[ "$failed" = 0 ] && [ "$same" = yes ]
