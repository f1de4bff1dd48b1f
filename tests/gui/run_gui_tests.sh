#!/usr/bin/env bash
# Runs the GUI scenarios against the real Vidodide.exe under Wine, on a
# virtual X display and in a throw-away Wine prefix of our own (started and
# stopped by wine_display.sh, which stops exactly what it started).
#
#   run_gui_tests.sh MINGW_BUILD NATIVE_BUILD [SCENARIO]
#
# MINGW_BUILD is the MinGW build folder (Vidodide.exe, tests/gui/vdriver.exe);
# NATIVE_BUILD the Linux one, whose sample generator makes the inputs and
# whose command line (tested on its own against hand-made bytes) makes the
# reference outputs. Screenshots (PNG) land in MINGW_BUILD/screenshots.
set -u
build=$(cd "$1" && pwd)
native=$(cd "$2" && pwd)
scenario=${3:-all}
exe=$build/Vidodide.exe
driver=$build/tests/gui/vdriver.exe
shots=$build/screenshots
for f in "$exe" "$driver"; do
    [ -f "$f" ] || { echo "missing $f" >&2; exit 1; }
done

tmp=$(mktemp -d /tmp/vidodide-gui.XXXXXX)
. "$(dirname "$0")/wine_display.sh"
cleanup() {
    wine_display_stop
    rm -rf "$tmp"
}
trap cleanup EXIT
wine_display_start "$tmp" || exit 1

mkdir -p "$tmp/work" "$shots"
bash "$(dirname "$0")/prepare_inputs.sh" "$native" "$tmp/work" || { echo "could not prepare the inputs" >&2; exit 1; }
rm -f "$shots"/*.bmp "$shots"/*.png
timeout 600 wine "$driver" "$scenario" "$(winpath "$exe")" "$(winpath "$tmp/work")" "$(winpath "$shots")" \
    | stdbuf -oL tr -d "\r" | tee "$tmp/report.txt"
rc=${PIPESTATUS[0]}

for f in "$shots"/*.bmp; do
    [ -e "$f" ] && convert "$f" "${f%.bmp}.png" && rm -f "$f"
done
passed=$(grep -c '^ok - ' "$tmp/report.txt")
failed=$(grep -c '^FAIL - ' "$tmp/report.txt")
echo "gui: $passed passed, $failed failed"
[ "$rc" = 0 ] && [ "$failed" = 0 ] && [ "$passed" -gt 0 ]
