# Sourced by the GUI tests and the GUI benchmark: a virtual X display and a
# throw-away 64-bit Wine prefix of our own, and their stopping.
#
#   wine_display_start TMP    Xvfb on a free display, a fresh prefix in TMP/prefix
#                             (exports DISPLAY, WINEPREFIX and the other Wine settings)
#   wine_display_stop         stops exactly what wine_display_start started: the
#                             wineserver of that prefix (and with it every Wine process
#                             of the prefix) and the X server, by its process id
#   winpath PATH              the Windows (Z:) form of a Linux path

wine_display_xvfb_pid=
wine_display_prefix=

wine_display_start() {
    local tmp=$1 display= n
    export WINEPREFIX=$tmp/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
    wine_display_prefix=$WINEPREFIX
    for n in $(seq 90 140); do
        if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then display=:$n; break; fi
    done
    [ -n "$display" ] || { echo "no free X display" >&2; return 1; }
    Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$tmp/xvfb.log" 2>&1 &
    wine_display_xvfb_pid=$!
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
}

# Never fails, so that it also serves callers running under `set -e`.
wine_display_stop() {
    if [ -n "$wine_display_prefix" ]; then
        WINEPREFIX=$wine_display_prefix wineserver -k >/dev/null 2>&1 || true
        WINEPREFIX=$wine_display_prefix wineserver -w >/dev/null 2>&1 || true
    fi
    if [ -n "$wine_display_xvfb_pid" ]; then
        kill "$wine_display_xvfb_pid" 2>/dev/null && wait "$wine_display_xvfb_pid" 2>/dev/null || true
    fi
    wine_display_xvfb_pid=
    wine_display_prefix=
}

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
