#!/usr/bin/env bash
# Runs the GUI scenarios against the real Vidodide.exe under Wine, on a
# virtual X display and in a throw-away Wine prefix of our own. Afterwards it
# stops exactly what it started: the wineserver of that prefix (and with it
# every Wine process of the prefix) and the X server, by its process id.
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
export WINEPREFIX=$tmp/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
xvfb_pid=
cleanup() {
    WINEPREFIX=$tmp/prefix wineserver -k >/dev/null 2>&1
    WINEPREFIX=$tmp/prefix wineserver -w >/dev/null 2>&1
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT

# A free display number.
display=
for n in $(seq 90 140); do
    if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then display=:$n; break; fi
done
[ -n "$display" ] || { echo "no free X display" >&2; exit 1; }
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$tmp/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
for _ in $(seq 50); do [ -e /tmp/.X11-unix/X${display#:} ] && break; sleep 0.1; done

# A fresh prefix whose programs run in one Wine-drawn desktop, so that
# captions and dialogs look as on Windows.
wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
# A program that crashes ends at once instead of waiting in the debugger.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f >/dev/null 2>&1
wineserver -w

mkdir -p "$tmp/work" "$shots"
bash "$(dirname "$0")/prepare_inputs.sh" "$native" "$tmp/work" || { echo "could not prepare the inputs" >&2; exit 1; }
rm -f "$shots"/*.bmp "$shots"/*.png
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
timeout 600 wine "$driver" "$scenario" "$(winpath "$exe")" "$(winpath "$tmp/work")" "$(winpath "$shots")" \
    | tr -d '\r' | tee "$tmp/report.txt"
rc=${PIPESTATUS[0]}

for f in "$shots"/*.bmp; do
    [ -e "$f" ] && convert "$f" "${f%.bmp}.png" && rm -f "$f"
done
passed=$(grep -c '^ok - ' "$tmp/report.txt")
failed=$(grep -c '^FAIL - ' "$tmp/report.txt")
echo "gui: $passed passed, $failed failed"
[ "$rc" = 0 ] && [ "$failed" = 0 ] && [ "$passed" -gt 0 ]
