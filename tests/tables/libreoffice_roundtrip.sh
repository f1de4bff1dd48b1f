#!/usr/bin/env bash
# Translation tables through LibreOffice Calc, as a translator uses them:
# export-text writes XLSX, ODS and CSV tables of a folder of scripts; Calc
# (headless, driven through its UNO bridge) opens each with its default
# options, types the translations into their cells as a user would (the
# same input handling as the keyboard: numbers, leading zeros, a formula,
# Japanese, a line break) and saves it in its own format; import-text then
# writes them into copies of the scripts. XLSX and ODS must give exactly the
# typed texts (the line break refused); CSV either the same or a refusal
# that says what the spreadsheet changed.
#
#   tests/tables/libreoffice_roundtrip.sh VIDODIDE
#
# Not part of scripts/test.sh (Calc takes a while to install and to start).
# Installs libreoffice-calc-nogui and python3-uno when missing (as root or
# with sudo).
set -u
cli=$(realpath "$1")
for p in libreoffice-calc-nogui python3-uno; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' && continue
    sudo=
    [ "$(id -u)" = 0 ] || sudo=sudo
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq libreoffice-calc-nogui python3-uno >/dev/null || exit 1
    break
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
pass=0 fail=0
check() {  # name expected-status expected-stdout expected-stderr command...
    local name=$1 want_rc=$2 want_out=$3 want_err=$4 out err rc
    shift 4
    out=$("$@" 2>"$work/err"); rc=$?
    err=$(cat "$work/err")
    if [ "$rc" = "$want_rc" ] && { [ "$want_out" = "*" ] || [ "$out" = "$want_out" ]; } &&
       { [ "$want_err" = "*" ] || [ "$err" = "$want_err" ]; }; then
        pass=$((pass + 1)); echo "ok - $name"
    else
        fail=$((fail + 1))
        printf 'FAIL %s\n  status %s (want %s)\n  stdout: %s\n  stderr: %s\n' "$name" "$rc" "$want_rc" "$out" "$err"
    fi
}

# a.ab: Update Texts "007", "1/2", "=1+1", 窓が開いています。 (code page 932)
# and "-x"; b.ab: "Two lines".
mkdir game
printf '\x01\x00\x01\x00007\x00\x01\x00\x02\x001/2\x00\x01\x00\x03\x00=1+1\x00' >game/a.ab
printf '\x01\x00\x04\x00\x91\x8B\x82\xAA\x8A\x4A\x82\xA2\x82\xC4\x82\xA2\x82\xDC\x82\xB7\x81\x42\x00' >>game/a.ab
printf '\x01\x00\x05\x00-x\x00' >>game/a.ab
printf '\x01\x00\x01\x00Two lines\x00' >game/b.ab
# a.ab with the typed translations 42, 007, =A1, 窓が閉じた。 and -5.
printf '\x01\x00\x01\x0042\x00\x01\x00\x02\x00007\x00\x01\x00\x03\x00=A1\x00' >typed-a.ab
printf '\x01\x00\x04\x00\x91\x8B\x82\xAA\x95\xC2\x82\xB6\x82\xBD\x81\x42\x00\x01\x00\x05\x00-5\x00' >>typed-a.ab

cat >calc.py <<'PY'
# Opens a table in Calc, types the translations, saves it in its format.
import os, subprocess, sys, time
import uno
from com.sun.star.beans import PropertyValue

def prop(name, value):
    p = PropertyValue()
    p.Name, p.Value = name, value
    return p

profile, table, saved = sys.argv[1], os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3])
pipe = "vidodide_calc_%d" % os.getpid()
office = subprocess.Popen(["soffice", "-env:UserInstallation=" + uno.systemPathToFileUrl(profile), "--headless",
                           "--invisible", "--norestore", "--nologo", "--accept=pipe,name=%s;urp;" % pipe],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
local = uno.getComponentContext()
resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
ctx = None
for _ in range(240):
    try:
        ctx = resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext" % pipe)
        break
    except Exception:
        time.sleep(0.5)
desktop = ctx.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", ctx)
dispatch = ctx.ServiceManager.createInstanceWithContext("com.sun.star.frame.DispatchHelper", ctx)
csv = ("Text - txt - csv (StarCalc)", "44,34,76,1,,1033")  # Calc's defaults, for UTF-8 text
load = [prop("Hidden", True)]
if table.endswith(".csv"):
    load += [prop("FilterName", csv[0]), prop("FilterOptions", csv[1])]
doc = desktop.loadComponentFromURL(uno.systemPathToFileUrl(table), "_blank", 0, tuple(load))
sheet = doc.Sheets.getByIndex(0)
frame = doc.getCurrentController().getFrame()
typed = {("a.ab", "1"): "42", ("a.ab", "2"): "007", ("a.ab", "3"): "=A1", ("a.ab", "4"): "窓が閉じた。",
         ("a.ab", "5"): "-5", ("b.ab", "1"): "line\nbreak"}
for row in range(1, 20):
    key = (sheet.getCellByPosition(0, row).getString(), sheet.getCellByPosition(1, row).getString())
    if key in typed:
        # Into the cell of the translation column (G), as the keyboard does.
        dispatch.executeDispatch(frame, ".uno:GoToCell", "", 0, (prop("ToPoint", "G%d" % (row + 1)),))
        dispatch.executeDispatch(frame, ".uno:EnterString", "", 0, (prop("StringName", typed[key]),))
filters = {".xlsx": ("Calc MS Excel 2007 XML", None), ".ods": ("calc8", None), ".csv": (csv[0], "44,34,76,1")}
name, options = filters[os.path.splitext(table)[1]]
store = [prop("FilterName", name), prop("Overwrite", True)]
if options:
    store.append(prop("FilterOptions", options))
doc.storeToURL(uno.systemPathToFileUrl(saved), tuple(store))
doc.close(True)
try:
    desktop.terminate()
except Exception:
    pass
office.wait(timeout=120)
PY

# A first start makes the profile (and restarts itself): done once, apart.
soffice -env:UserInstallation=file://"$work/profile" --headless --terminate_after_init >/dev/null 2>&1

for e in xlsx ods csv; do
    check "export-text .$e" 0 "*" "" "$cli" export-text game "table.$e"
    check "Calc types into the .$e table" 0 "" "" /usr/bin/python3 calc.py "$work/profile" "table.$e" "typed.$e"
    cp -r game "game-$e"
done
for e in xlsx ods; do
    check "import-text of the .$e table saved by Calc" 1 "Importing texts of typed.$e
game-$e/a.ab: 5 texts, 0 jumps moved
Importing: 5 texts into 1 script, 1 script left unchanged, with failures" "Alert: game-$e/b.ab was left unchanged:
- row 7: the translation holds a line break" "$cli" import-text "game-$e" "typed.$e"
    check ".$e: a.ab holds exactly the typed texts" 0 "" "" cmp "game-$e/a.ab" typed-a.ab
    check ".$e: b.ab unchanged" 0 "" "" cmp "game-$e/b.ab" game/b.ab
done
# Calc's defaults take 007 for a number and 1/2 for a date (the year is
# today's); the apostrophes of '=1+1 and '-x stay.
year=$(date +%y)
check "import-text of the .csv table saved by Calc" 1 "Importing texts of typed.csv
Importing: 0 texts into 0 scripts, 2 scripts left unchanged, with failures" "Alert: game-csv/a.ab was left unchanged:
- row 2: the original no longer matches the text of instruction 1 in a.ab: the script has \"[0]07\", the table \"[7]\". This looks like a spreadsheet's doing: it took the text for a number and dropped its leading zeros. Export the table as XLSX or ODS instead, whose cells stay text (or open the CSV with every column as text)
- row 3: the original no longer matches the text of instruction 2 in a.ab: the script has \"[1]/2\", the table \"[0]1/02/$year\". This looks like a spreadsheet's doing: it took the text for a date. Export the table as XLSX or ODS instead, whose cells stay text (or open the CSV with every column as text)
Alert: game-csv/b.ab was left unchanged:
- row 7: the translation holds a line break" "$cli" import-text game-csv typed.csv
check ".csv: a.ab unchanged" 0 "" "" cmp game-csv/a.ab game/a.ab

printf 'libreoffice: %d passed, %d failed\n' "$pass" "$fail"
[ "$fail" = 0 ]
