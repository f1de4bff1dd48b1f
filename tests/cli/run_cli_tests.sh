#!/usr/bin/env bash
# The command line as a whole program: exit status, standard output and
# standard error for each case.
set -u
cli=$1
samples=$2
here=$(cd "$(dirname "$0")" && pwd)  # the cases change folder
pass=0
fail=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

check() {  # name expected-status expected-stdout expected-stderr command...
    local name=$1 want_rc=$2 want_out=$3 want_err=$4
    shift 4
    local out err rc
    out=$("$@" 2>"$work/err"); rc=$?
    err=$(cat "$work/err")
    if [ "$rc" = "$want_rc" ] && { [ "$want_out" = "*" ] || [ "$out" = "$want_out" ]; } &&
       { [ "$want_err" = "*" ] || [ "$err" = "$want_err" ]; }; then
        pass=$((pass + 1))
    else
        fail=$((fail + 1))
        printf 'FAIL %s\n  status %s (want %s)\n  stdout: %s\n  stderr: %s\n' "$name" "$rc" "$want_rc" "$out" "$err"
    fi
}

# Wrappers for a checked command: each keeps its status and adds what it
# finds wrong to stdout (and a status of 99), so the check fails.
# last_line COMMAND...: only the last line of its output.
last_line() { local out rc; out=$("$@"); rc=$?; printf '%s\n' "${out##*$'\n'}"; return $rc; }
# same "OLD=NEW ..." COMMAND...: then each pair is the same (files or folders).
same() {
    local p rc pairs=$1; shift; "$@"; rc=$?
    for p in $pairs; do diff -r "${p%%=*}" "${p#*=}" >/dev/null 2>&1 || { echo "differ: $p"; rc=99; }; done
    return $rc
}
# absent "PATH ..." COMMAND...: then none of the paths exists; present: each does.
absent() {
    local p rc paths=$1; shift; "$@"; rc=$?
    for p in $paths; do [ ! -e "$p" ] && [ ! -L "$p" ] || { echo "there: $p"; rc=99; }; done
    return $rc
}
present() {
    local p rc paths=$1; shift; "$@"; rc=$?
    for p in $paths; do [ -e "$p" ] || { echo "missing: $p"; rc=99; }; done
    return $rc
}
empty=$work/empty  # an empty folder, to compare with
mkdir "$empty"

hint="Try 'vidodide --help' for more information."
check "no command" 2 "" "vidodide: no command given
$hint" "$cli"
check "unknown command" 2 "" "vidodide: unknown command 'frobnicate'
$hint" "$cli" frobnicate
check "version" 0 "vidodide 1.0.0" "" "$cli" --version
check "help" 0 "*" "" "$cli" --help

cases=0
for f in "$here"/cases_*.sh; do
    [ -e "$f" ] || continue
    . "$f"
    cases=$((cases + 1))
done
# A case file that could not be read would leave its cases out unseen.
[ "$cases" -gt 0 ] || fail=$((fail + 1))

printf '%d passed, %d failed\n' "$pass" "$fail"
[ "$fail" = 0 ]
