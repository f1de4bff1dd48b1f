# export-text and import-text. Sourced by run_cli_tests.sh.

tx=$work/text
mkdir -p "$tx/game/sub"
# scene.ab: Init Text 1, voice mina01, "窓が開いています。" in code page 932 | Update
# Text 2 'Hi, "you"' (at 32) | jump to 32 (at 46) | RAZ (at 52).
printf '\x00\x00\x01\x00\\Vmina01.\x91\x8B\x82\xAA\x8A\x4A\x82\xA2\x82\xC4\x82\xA2\x82\xDC\x82\xB7\x81\x42\x00' >"$tx/game/scene.ab"
printf '\x01\x00\x02\x00Hi, "you"\x00\x01\x02\x20\x00\x00\x00\x05\x01' >>"$tx/game/scene.ab"
printf '\x01\x00\x03\x00Hello\x00' >"$tx/game/sub/b.ab"
printf 'not a script' >"$tx/game/notes.txt"
cp -r "$tx/game" "$tx/clean"
# What a run that refused the whole table writes: ran_failed Import|Export TABLE_OR_FOLDER.
ran_failed() { printf '%sing texts of %s\n%sing texts failed' "$1" "$2" "$1"; }

check "export-text needs a folder and a table" 2 "" "vidodide: export-text: give a FOLDER and a TABLE
$hint" "$cli" export-text "$tx/game"
check "import-text --codepage without a number" 2 "" "vidodide: import-text: --codepage needs a number, not 'sjis'
$hint" "$cli" import-text --codepage sjis "$tx/game" "$tx/t.csv"
check "export-text unknown code page" 2 "" "vidodide: export-text: code page 4 is not supported here
$hint" "$cli" export-text --codepage=4 "$tx/game" "$tx/t.csv"

printf '\xEF\xBB\xBFscript,n,op,idx,voice,original,translation\r\n' >"$tx/want.csv"
printf 'scene.ab,1,init,0x0001,mina01,窓が開いています。,\r\n' >>"$tx/want.csv"
printf 'scene.ab,2,update,0x0002,,"Hi, ""you""",\r\n' >>"$tx/want.csv"
printf 'sub/b.ab,1,update,0x0003,,Hello,\r\n' >>"$tx/want.csv"
check "export-text, the table" 0 "Exporting texts of $tx/game
Exporting OK: 3 texts of 2 scripts" "" same "$tx/t.csv=$tx/want.csv" "$cli" export-text "$tx/game" "$tx/t.csv"

# LF, no byte-order mark, columns in another order, an extra column. The
# Japanese text gets 6 bytes shorter, the Update Text 6 bytes longer: the
# jump to the Update Text moves from 0x20 to 0x1A.
{ printf 'translation,note,original,n,script\n'
  printf '窓が閉じた。,x,窓が開いています。,1,scene.ab\n'
  printf '"Hello, ""friend""",,"Hi, ""you""",2,scene.ab\n'; } >"$tx/a.csv"
printf '\x00\x00\x01\x00\\Vmina01.\x91\x8B\x82\xAA\x95\xC2\x82\xB6\x82\xBD\x81\x42\x00' >"$tx/want.ab"
printf '\x01\x00\x02\x00Hello, "friend"\x00\x01\x02\x1A\x00\x00\x00\x05\x01' >>"$tx/want.ab"
check "import-text: the new script, the original kept" 0 "Importing texts of $tx/a.csv
$tx/game/scene.ab: 2 texts, 1 jump moved
Importing OK: 2 texts into 1 script" "" same "$tx/game/scene.ab=$tx/want.ab $tx/game/scene.ab.orig=$tx/clean/scene.ab" \
    "$cli" import-text "$tx/game" "$tx/a.csv"

# Refusals: a stale row, a character outside the code page, a line break,
# an instruction that is no text. Each script with a refused row stays as
# it was.
rm -rf "$tx/game" && cp -r "$tx/clean" "$tx/game"
{ printf 'script,n,original,translation\n'
  printf 'scene.ab,1,窓が閉じた。,x\n'
  printf 'scene.ab,2,"Hi, ""you""",5 €\n'
  printf 'sub/b.ab,1,Hello,"two\nlines"\n'
  printf 'scene.ab,4,,x\n'
  printf 'scene.ab,9,,\n'; } >"$tx/bad.csv"
check "import-text refusals" 1 "Importing texts of $tx/bad.csv
Importing: 0 texts into 0 scripts, 2 scripts left unchanged, with failures" "Alert: $tx/game/scene.ab was left unchanged:
- row 2: the original no longer matches the text of instruction 1 in scene.ab: the script has \"窓が[開]いています。\", the table \"窓が[閉]じた。\" (the table is older than the script, or the original was changed)
- row 3: code page 932 cannot hold \"€\" (U+20AC)
- row 5: instruction 4 is not a text
Alert: $tx/game/sub/b.ab was left unchanged:
- row 4: the translation holds a line break" same "$tx/game=$tx/clean" "$cli" import-text "$tx/game" "$tx/bad.csv"

# Rows that belong to no script of the folder, or to no instruction: no
# script is written, not even those of the rows that were fine.
{ printf 'script,n,original,translation\n'
  printf 'sub/b.ab,1,Hello,Bye\n'
  printf 'none.ab,1,Hello,x\n'
  printf 'scene.ab,x1,,x\n'; } >"$tx/whole.csv"
check "import-text refuses the table for rows of no script" 1 "$(ran_failed Import "$tx/whole.csv")" "Alert: $tx/whole.csv: no script was changed, since these rows were refused:
- row 3: there is no script \"none.ab\" in $tx/game
- row 4: \"x1\" is not an instruction number" "$cli" import-text "$tx/game" "$tx/whole.csv"
printf 'script,n,Translation,original,translation,N\nsub/b.ab,1,Bye,Hello,Bye,1\n' >"$tx/twice.csv"
check "import-text refuses columns named twice" 1 "$(ran_failed Import "$tx/twice.csv")" "Alert: $tx/twice.csv has these columns more than once, so no script was changed:
- \"n\" (columns B and F)
- \"translation\" (columns C and E)" "$cli" import-text "$tx/game" "$tx/twice.csv"
printf '\xff\xfes\x00c\x00r\x00i\x00p\x00t\x00' >"$tx/wide.csv"
check "import-text names a UTF-16 table" 1 "$(ran_failed Import "$tx/wide.csv")" "Alert: $tx/wide.csv is UTF-16 text (as Excel's \"Unicode Text\" saves it), which import does not read: save it as \"CSV UTF-8\", or use an XLSX or ODS table" \
    "$cli" import-text "$tx/game" "$tx/wide.csv"
check "import-text of a table without translations; the table refusals changed no script" 1 "$(ran_failed Import "$tx/t.csv")" "Alert: $tx/t.csv has no translation to import: every cell of its \"translation\" column is empty" \
    same "$tx/game=$tx/clean" "$cli" import-text "$tx/game" "$tx/t.csv"

# Texts that a spreadsheet would run as formulas go into CSV with an
# apostrophe in front; a table saved by a spreadsheet that took texts for
# numbers, dates and formulas is refused with what it changed.
mkdir -p "$tx/conv"
printf '\x01\x00\x01\x00007\x00\x01\x00\x02\x001/2\x00\x01\x00\x03\x00=1+1\x00\x01\x00\x04\x001.50\x00' >"$tx/conv/conv.ab"
printf '\x01\x00\x05\x00Hello world\x00\x01\x00\x06\x00-1\x00\x01\x00\x07\x00'"'"'Tis\x00' >>"$tx/conv/conv.ab"
{ printf 'script,n,original,translation\n'
  printf 'conv.ab,1,7,x\nconv.ab,2,01/02/24,x\nconv.ab,3,2,x\nconv.ab,4,1.5,x\nconv.ab,5,Hello World,x\n'; } >"$tx/calc.csv"
check "import-text shows what a spreadsheet changed" 1 "Importing texts of $tx/calc.csv
Importing: 0 texts into 0 scripts, 1 script left unchanged, with failures" "Alert: $tx/conv/conv.ab was left unchanged:
- row 2: the original no longer matches the text of instruction 1 in conv.ab: the script has \"[0]07\", the table \"[7]\". This looks like a spreadsheet's doing: it took the text for a number and dropped its leading zeros. Export the table as XLSX or ODS instead, whose cells stay text (or open the CSV with every column as text)
- row 3: the original no longer matches the text of instruction 2 in conv.ab: the script has \"[1]/2\", the table \"[0]1/02/24\". This looks like a spreadsheet's doing: it took the text for a date. Export the table as XLSX or ODS instead, whose cells stay text (or open the CSV with every column as text)
- row 4: the original no longer matches the text of instruction 3 in conv.ab: the script has \"[=]1+1\", the table \"[2]\". This looks like a spreadsheet's doing: it ran the text as a formula and kept its result. Export the table as XLSX or ODS instead, whose cells stay text (or open the CSV with every column as text)
- row 5: the original no longer matches the text of instruction 4 in conv.ab: the script has \"1.5[0]\", the table \"1.5[]\". This looks like a spreadsheet's doing: it took the text for a number and wrote the number its own way. Export the table as XLSX or ODS instead, whose cells stay text (or open the CSV with every column as text)
- row 6: the original no longer matches the text of instruction 5 in conv.ab: the script has \"Hello [w]orld\", the table \"Hello [W]orld\" (the table is older than the script, or the original was changed)" \
    "$cli" import-text "$tx/conv" "$tx/calc.csv"
# Originals of formulas with or without their apostrophe (a spreadsheet may
# keep it or not) match; what a CSV field with an apostrophe stands for is
# the table reader's own matter.
{ printf 'script,n,original,translation\n'
  printf "conv.ab,3,'=1+1,'=2+2\\nconv.ab,6,-1,'+1\\nconv.ab,7,'Tis,'Twas\\n"; } >"$tx/formulas.csv"
check "import-text of formula-like texts" 0 "Importing texts of $tx/formulas.csv
$tx/conv/conv.ab: 3 texts, 0 jumps moved
Importing OK: 3 texts into 1 script" "" "$cli" import-text "$tx/conv" "$tx/formulas.csv"

# A jump into the middle of an instruction: no length may change; the same
# length may.
mkdir -p "$tx/loose"
printf '\x01\x00\x01\x00A\x00\x01\x02\x03\x00\x00\x00' >"$tx/loose/l.ab"
printf 'script,n,original,translation\nl.ab,1,A,AB\n' >"$tx/longer.csv"
check "import-text jump into an instruction" 1 "Importing texts of $tx/longer.csv
Importing: 0 texts into 0 scripts, 1 script left unchanged, with failures" "Alert: $tx/loose/l.ab was left unchanged: its texts cannot change length, since these jumps (0x0201) do not land on the start of an instruction:
- the jump at 0x00000006 to 0x00000003" "$cli" import-text "$tx/loose" "$tx/longer.csv"
printf 'script,n,original,translation\nl.ab,1,A,B\n' >"$tx/same-length.csv"
printf '\x01\x00\x01\x00B\x00\x01\x02\x03\x00\x00\x00' >"$tx/want-l.ab"
check "import-text same length beside a loose jump" 0 "*" "" same "$tx/loose/l.ab=$tx/want-l.ab" "$cli" import-text "$tx/loose" "$tx/same-length.csv"

# 0x8000 with a tail: one warning, the texts still change.
mkdir -p "$tx/tail"
printf '\x01\x00\x01\x00A\x00\x00\x80\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00' >"$tx/tail/t.ab"
printf 'script,n,original,translation\nt.ab,1,A,AB\n' >"$tx/tail.csv"
check "import-text tail warning" 0 "Importing texts of $tx/tail.csv
$tx/tail/t.ab: 1 text, 0 jumps moved
Importing OK: 1 text into 1 script" "Alert: $tx/tail/t.ab holds instructions 0x8000 with a tail, which is not understood: positions inside it are not moved with the texts" \
    "$cli" import-text "$tx/tail" "$tx/tail.csv"

# Listings and code pages. --utf8 both ways; without it, Encode AB points out
# lines an editor broke (the AB file is still written as the listing says).
mkdir -p "$tx/listing"
cp "$tx/clean/scene.ab" "$tx/listing/scene.ab"
check "decode-ab --utf8: the text in UTF-8" 0 "窓が開いています。" "" \
    sh -c "'$cli' decode-ab --utf8 '$tx/listing/scene.ab' >/dev/null && sed -n 9p '$tx/listing/scene.txt'"
sed '9s/.*/窓が閉じた。/' "$tx/listing/scene.txt" >"$tx/listing/closed.txt"
check "encode-ab --utf8: the text in code page 932" 0 "" "" \
    sh -c "'$cli' encode-ab --utf8 '$tx/listing/closed.txt' >/dev/null && cmp -n 26 '$tx/listing/closed.ab' '$tx/want.ab'"
sed '9s/.*/Café/' "$tx/listing/scene.txt" >"$tx/listing/cafe.txt"
check "encode-ab --utf8 refuses what 932 cannot hold" 1 "*" "Alert: $tx/listing/cafe.txt: line 9: code page 932 cannot hold \"é\" (U+00E9)
No AB file was written." absent "$tx/listing/cafe.ab" "$cli" encode-ab --utf8 "$tx/listing/cafe.txt"
printf '0x0605\nbad \xef\xbf\xbd\n' >>"$tx/listing/closed.txt"
mv "$tx/listing/closed.txt" "$tx/listing/broken.txt"
check "encode-ab warns about a UTF-8 listing" 0 "EnScripting $tx/listing/broken.txt
EnScripting OK
Encoding OK" "Alert: $tx/listing/broken.txt: these lines may not be in the game's code page (932); the AB file holds them as they stand:
- line 9 is UTF-8 text that the code page does not hold: the listing was saved in another encoding
- line 26 holds EF BF BD, written by an editor for a character it could not read" \
    sh -c "'$cli' encode-ab '$tx/listing/broken.txt' && cmp -n 12 '$tx/listing/broken.ab' '$tx/listing/closed.ab'"

# XLSX and ODS: every cell of texts and keys a text cell, the empty ones of
# each column formatted as text; the header row frozen. (What the
# sheets read back as is the table reader's own matter.)
rm -rf "$tx/game" && cp -r "$tx/clean" "$tx/game"
for e in xlsx ods; do
    check "export-text .$e" 0 "Exporting texts of $tx/game
Exporting OK: 3 texts of 2 scripts" "" "$cli" export-text "$tx/game" "$tx/t.$e"
done
check "export-text: the cells of the tables" 0 "xlsx: 23 text cells, 0 other, 5 empty; columns formatted as text; frozen below row 1
ods: mimetype first, stored; 23 text cells, 0 other, 5 empty; columns formatted as text; frozen below row 1" "" \
    python3 - "$tx/t.xlsx" "$tx/t.ods" <<'PY'
import re, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
sheet = z.read('xl/worksheets/sheet1.xml').decode()
styles = z.read('xl/styles.xml').decode()
cells = re.findall(r'<c [^>]*?(?:/>|>.*?</c>)', sheet)
text = [c for c in cells if 't="inlineStr"' in c]
empty = [c for c in cells if c.endswith('/>')]
# Each column's format: its xf's number format is 49 (text, "@").
xfs = re.findall(r'<xf [^>]*>', styles.split('<cellXfs')[1])
cols = re.findall(r'<col [^>]*style="(\d+)"', sheet)
as_text = all('numFmtId="49"' in xfs[int(i)] for i in cols) and len(cols) == 7
frozen = '<pane ySplit="1" topLeftCell="A2" activePane="bottomLeft" state="frozen"/>' in sheet
print('xlsx: %d text cells, %d other, %d empty; columns %s; %s' % (len(text), len(cells) - len(text) - len(empty),
      len(empty), 'formatted as text' if as_text else 'NOT TEXT', 'frozen below row 1' if frozen else 'NOT FROZEN'))
z = zipfile.ZipFile(sys.argv[2])
first = z.infolist()[0]
content = z.read('content.xml').decode()
settings = z.read('settings.xml').decode()
cells = re.findall(r'<table:table-cell [^>]*?(?:/>|>.*?</table:table-cell>)', content)
text = [c for c in cells if 'office:value-type="string"' in c]
empty = [c for c in cells if c.endswith('/>')]
styles = dict(re.findall(r'<style:style style:name="([^"]*)" style:family="table-cell" style:data-style-name="(N0)"', content))
defaults = re.findall(r'table:default-cell-style-name="([^"]*)"', content)
as_text = '<number:text-style style:name="N0"><number:text-content/></number:text-style>' in content and \
    len(defaults) == 7 and all(d in styles for d in defaults)
frozen = '"VerticalSplitMode" config:type="short">2<' in settings and '"VerticalSplitPosition" config:type="int">1<' in settings
print('ods: mimetype %s; %d text cells, %d other, %d empty; columns %s; %s' % (
      'first, stored' if first.filename == 'mimetype' and first.compress_type == 0 else 'WRONG',
      len(text), len(cells) - len(text) - len(empty), len(empty), 'formatted as text' if as_text else 'NOT TEXT',
      'frozen below row 1' if frozen else 'NOT FROZEN'))
PY
# Translations typed into an exported sheet (here written into its XML) that
# are a formula's result, a date and a truth value, refused; one that is a
# number, in another script, taken as its text.
mkdir -p "$tx/kinds"
printf '\x01\x00\x01\x00A\x00\x01\x00\x02\x00B\x00\x01\x00\x03\x00C\x00' >"$tx/kinds/k.ab"
printf '\x01\x00\x01\x00D\x00' >"$tx/kinds/n.ab"
cp "$tx/kinds/k.ab" "$tx/kinds-k.ab"
printf '\x01\x00\x01\x0042\x00' >"$tx/kinds-n.ab"
"$cli" export-text "$tx/kinds" "$tx/kinds.xlsx" >/dev/null
python3 - "$tx/kinds.xlsx" "$tx/typed.xlsx" <<'PY'
import sys, zipfile
cells = {'G2': '<c r="G2" t="str"><f>A1</f><v>script</v></c>', 'G3': '<c r="G3" s="6"><v>45292</v></c>',
         'G4': '<c r="G4" t="b"><v>1</v></c>', 'G5': '<c r="G5"><v>42</v></c>'}
zin, zout = zipfile.ZipFile(sys.argv[1]), zipfile.ZipFile(sys.argv[2], 'w', zipfile.ZIP_DEFLATED)
for info in zin.infolist():
    data = zin.read(info.filename).decode().replace('</cellXfs>', '<xf numFmtId="14"/></cellXfs>')  # style 6: a date
    for ref, cell in cells.items():
        data = data.replace('<c r="%s" s="5"/>' % ref, cell)
    zout.writestr(info, data)
zout.close()
PY
check "import-text refuses formulas, dates and truth values, takes a number" 1 "Importing texts of $tx/typed.xlsx
$tx/kinds/n.ab: 1 text, 0 jumps moved
Importing: 1 text into 1 script, 1 script left unchanged, with failures" "Alert: $tx/kinds/k.ab was left unchanged:
- row 2: the translation is the result of a formula (\"script\"), not a text: type the text itself (in a cell formatted as text, \"=\" stays as typed)
- row 3: the translation is a date (\"45292\" as the spreadsheet shows it), not a text: format the cell as text and type it again
- row 4: the translation is a truth value (\"TRUE\"), not a text: format the cell as text and type it again" \
    same "$tx/kinds/k.ab=$tx/kinds-k.ab $tx/kinds/n.ab=$tx/kinds-n.ab" "$cli" import-text "$tx/kinds" "$tx/typed.xlsx"

# The round trip on the sample game: the table read by Python's csv module,
# every translation set to its original, imported: every script byte-identical.
mkdir -p "$tx/samples"
"$samples" "$tx/samples" >/dev/null
mkdir -p "$tx/samples/game/deep"
cp "$tx/samples/"*.ab "$tx/samples/game/"
cp "$tx/samples/scene01.ab" "$tx/samples/game/deep/"
cp -r "$tx/samples/game" "$tx/samples/clean"
"$cli" export-text "$tx/samples/game" "$tx/samples/t.csv" >/dev/null 2>&1
check "round trip: the sample table has every script" 0 "deep/scene01.ab opcodes.ab scene01.ab voices.ab" "" python3 - "$tx/samples/t.csv" "$tx/samples/same.csv" <<'PY'
import csv, sys
rows = list(csv.DictReader(open(sys.argv[1], newline='', encoding='utf-8-sig')))
for r in rows: r['translation'] = r['original']
w = csv.DictWriter(open(sys.argv[2], 'w', newline='', encoding='utf-8'), fieldnames=list(rows[0]), lineterminator='\n')
w.writeheader(); w.writerows(rows)
print(*sorted({r['script'] for r in rows}))
PY
check "round trip: import of the originals, every script byte-identical" 0 "Importing texts of $tx/samples/same.csv
Importing OK: 0 texts into 0 scripts" "" \
    same "$tx/samples/game=$tx/samples/clean" "$cli" import-text "$tx/samples/game" "$tx/samples/same.csv"

check "export-text of a folder that is not there: no table" 1 "$(ran_failed Export "$tx/none")" "Alert: can't read the folder $tx/none" \
    absent "$tx/none.csv" "$cli" export-text "$tx/none" "$tx/none.csv"

# A game folder of archives only: its scripts are inside them. No table is
# written, and an existing one stays as it was.
mkdir -p "$tx/packed/sub"
printf 'FL3.\x30\x00\x00\x00\x1c\x00\x04\x00\x00\x00\x1c\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\xff\xff\xff\xff' >"$tx/packed/data.fl3"
cp "$tx/packed/data.fl3" "$tx/packed/sub/MORE.FL3"
printf 'old table\n' >"$tx/packed.csv"
check "export-text of archives only" 1 "$(ran_failed Export "$tx/packed")" "Alert: $tx/packed holds no AB script but 2 FL3 archives: the scripts are inside them. Unpack the game first (vidodide unpack GAME WORK, or Unpack Game in the Windows program; extract-fl3 or Extract FL3 for a single archive), then give the folder that it writes. No table was written." \
    "$cli" export-text "$tx/packed" "$tx/packed.csv"
check "export-text of archives only: the old table stays" 0 "old table" "" cat "$tx/packed.csv"
rm "$tx/packed/sub/MORE.FL3"
check "import-text into archives only" 1 "$(ran_failed Import "$tx/a.csv")" "Alert: $tx/packed holds no AB script but 1 FL3 archive: the scripts are inside it. Unpack the game first (vidodide unpack GAME WORK, or Unpack Game in the Windows program; extract-fl3 or Extract FL3 for a single archive), then give the folder that it writes. No script was changed." \
    "$cli" import-text "$tx/packed" "$tx/a.csv"
# A folder of neither: an empty table, as before.
mkdir -p "$tx/nothing"
check "export-text of a folder without scripts or archives" 0 "Exporting texts of $tx/nothing
Exporting OK: 0 texts of 0 scripts" "" "$cli" export-text "$tx/nothing" "$tx/nothing.csv"

# Fields: 1 MiB (1,048,576 bytes) at most in a column that import reads.
# Translations of one byte more, unquoted and in quotes (with a doubled
# quote in a column import ignores, where there is no limit); then that
# column long again and a translation of exactly 1 MiB, which is taken.
mkdir -p "$tx/long"
printf '\x01\x00\x01\x00Hello\x00' >"$tx/long/one.ab"
cp "$tx/long/one.ab" "$tx/long-one.ab"
mib() { head -c 1048576 /dev/zero | tr '\0' "$1"; }
{ printf 'script,n,original,translation\r\none.ab,1,Hello,'; mib y; printf 'y\r\n'; } >"$tx/field-over.csv"
{ printf 'note,script,n,original,translation\r\n"'; mib q; printf '""'; mib q; printf '",one.ab,1,Hello,"'; mib y; printf 'y"\r\n'; } >"$tx/field-quoted.csv"
for t in over quoted; do
    check "import-text refuses a field of 1 MiB and 1 byte ($t)" 1 "$(ran_failed Import "$tx/field-$t.csv")" "Alert: $tx/field-$t.csv: no script was changed, since these rows were refused:
- row 2: its \"translation\" is longer than 1 MiB (1048576 bytes), the most that a field may hold" \
        same "$tx/long/one.ab=$tx/long-one.ab" "$cli" import-text "$tx/long" "$tx/field-$t.csv"
done
{ printf 'note,script,n,original,translation\r\n'; mib n; mib n; printf ',one.ab,1,Hello,'; mib z; printf '\n'; } >"$tx/field-exact.csv"
{ printf '\x01\x00\x01\x00'; mib z; printf '\x00'; } >"$tx/want-long.ab"
check "import-text: a long ignored column and a translation of exactly 1 MiB" 0 "Importing texts of $tx/field-exact.csv
$tx/long/one.ab: 1 text, 0 jumps moved
Importing OK: 1 text into 1 script" "" same "$tx/long/one.ab=$tx/want-long.ab" "$cli" import-text "$tx/long" "$tx/field-exact.csv"

# The rows kept for one script: at most 16 MiB (16,777,216 bytes), counting
# their original and translation texts and 256 bytes each. A row here takes
# 5 + 1,048,576 + 256 = 1,048,837 bytes: 15 rows take 15,732,555 (taken), 16
# take 16,781,392 (refused). 15 rows for a.ab and one for b.ab pass the
# budget as well, so the table is read once for each.
mkdir -p "$tx/rows"
for k in $(seq 1 16); do printf '\x01\x00'"\\x$(printf %02x "$k")"'\x00Hello\x00'; done >"$tx/rows/a.ab"
printf '\x01\x00\x01\x00Hello\x00' >"$tx/rows/b.ab"
cp -r "$tx/rows" "$tx/rows-clean"
{ printf 'script,n,original,translation\r\n'; for k in $(seq 1 16); do printf 'a.ab,%s,Hello,' "$k"; mib a; printf '\r\n'; done
  printf 'b.ab,1,Hello,'; mib b; printf '\r\n'; } >"$tx/rows16.csv"
{ printf '\x01\x00\x01\x00'; mib b; printf '\x00'; } >"$tx/want-b.ab"
check "import-text refuses a script with more than 16 MiB of rows" 1 "Importing texts of $tx/rows16.csv
$tx/rows/b.ab: 1 text, 0 jumps moved
Importing: 1 text into 1 script, 1 script left unchanged, with failures" "Alert: $tx/rows/a.ab was left unchanged: its rows in the table take more than 16 MiB (16777216 bytes) (their original and translation texts, and 256 bytes for each row), the most that import takes for one script" \
    same "$tx/rows/a.ab=$tx/rows-clean/a.ab $tx/rows/b.ab=$tx/want-b.ab" "$cli" import-text "$tx/rows" "$tx/rows16.csv"
rm -rf "$tx/rows" && cp -r "$tx/rows-clean" "$tx/rows"
sed '/^a\.ab,16,/d' "$tx/rows16.csv" >"$tx/rows15.csv"
{ for k in $(seq 1 15); do printf '\x01\x00'"\\x$(printf %02x "$k")"'\x00'; mib a; printf '\x00'; done
  printf '\x01\x00\x10\x00Hello\x00'; } >"$tx/want-a.ab"
check "import-text of 15 rows of 1 MiB for a script, read in two runs" 0 "Importing texts of $tx/rows15.csv
$tx/rows/a.ab: 15 texts, 0 jumps moved
$tx/rows/b.ab: 1 text, 0 jumps moved
Importing OK: 16 texts into 2 scripts" "" same "$tx/rows/a.ab=$tx/want-a.ab $tx/rows/b.ab=$tx/want-b.ab" "$cli" import-text "$tx/rows" "$tx/rows15.csv"
rm -rf "$tx/rows" "$tx/rows-clean" "$tx"/rows1?.csv "$tx/long" "$tx"/field-*.csv "$tx"/want-?.ab

# --max-line N and the column max_line: a translation wider than the text
# box's line is refused; a full-width character (two bytes in 932) counts 2.
ml=$tx/maxline
mkdir -p "$ml/sub"
printf '\x01\x00\x03\x00Hello\x00' >"$ml/sub/b.ab"
printf '\x01\x00\x02\x00Hi\x00' >"$ml/s.ab"
cp -r "$ml" "$tx/maxline.clean"
{ printf 'script,n,original,translation,max_line\n'
  printf 'sub/b.ab,1,Hello,Hiya you,\n'
  printf 's.ab,1,Hi,窓窓窓,5\n'; } >"$tx/ml.csv"
check "import-text --max-line 7: 8 columns, and 6 columns over a max_line of 5" 1 "Importing texts of $tx/ml.csv
Importing: 0 texts into 0 scripts, 2 scripts left unchanged, with failures" "Alert: $ml/s.ab was left unchanged:
- row 3: the translation is 6 columns wide, more than the 5 of a line of the text box (a full-width character counts 2)
Alert: $ml/sub/b.ab was left unchanged:
- row 2: the translation is 8 columns wide, more than the 7 of a line of the text box (a full-width character counts 2)" \
    same "$ml=$tx/maxline.clean" "$cli" import-text --max-line 7 "$ml" "$tx/ml.csv"
sed 's/,5$/,6/' "$tx/ml.csv" >"$tx/ml6.csv"
printf '\x01\x00\x02\x00\x91\x8B\x91\x8B\x91\x8B\x00' >"$tx/wide-s.ab"
check "import-text --max-line=8: each exactly as wide as allowed" 0 "Importing texts of $tx/ml6.csv
$ml/s.ab: 1 text, 0 jumps moved
$ml/sub/b.ab: 1 text, 0 jumps moved
Importing OK: 2 texts into 2 scripts" "" same "$ml/s.ab=$tx/wide-s.ab" "$cli" import-text --max-line=8 "$ml" "$tx/ml6.csv"
printf 'script,n,original,translation,max_line\nsub/b.ab,1,Hiya you,Hi,wide\n' >"$tx/mlbad.csv"
check "import-text: a max_line that is no number refuses the table" 1 "$(ran_failed Import "$tx/mlbad.csv")" "Alert: $tx/mlbad.csv: no script was changed, since these rows were refused:
- row 2: \"wide\" in \"max_line\" is not a number of columns" "$cli" import-text "$ml" "$tx/mlbad.csv"
check "import-text --max-line 0" 2 "" "vidodide: import-text: --max-line needs a number of columns, not '0'
$hint" "$cli" import-text --max-line 0 "$ml" "$tx/ml.csv"
