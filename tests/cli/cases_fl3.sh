# extract-fl3 and encode-fl3: the sample archive there and back, and failures.
fl3=$work/fl3
mkdir -p "$fl3"
"$samples" "$fl3" >/dev/null
arc=$fl3/data.fl3
idx=$fl3/data_fl3/_index.bin
cp "$arc" "$fl3/orig.fl3"

check "extract-fl3 sample: first and last texts" 0 "Extracting $arc
Extracting $arc:readme.txt
Extracting OK" "" sh -c "'$cli' extract-fl3 '$arc' > '$fl3/out' && sed -n '1,2p;\$p' '$fl3/out'"
check "encode-fl3 in place: first and last texts" 0 "Compacting $arc
Compacting readme.txt into $fl3/data_fl3/readme.txt
Compacting OK" "" sh -c "'$cli' encode-fl3 '$idx' '$arc' > '$fl3/out' && sed -n '1,2p;\$p' '$fl3/out'"
check "round trip is byte-identical" 0 "" "" cmp "$arc" "$fl3/orig.fl3"
# The index's name: _index.bin in any case, its shortest form relative to the
# current folder; anything else is refused before anything is written.
cp "$idx" "$fl3/data_fl3/backup_index.bin"
cp "$idx" "$fl3/data_fl3/index.bin"
cp "$idx" "$fl3/data_fl3/_INDEX.BIN"
named() { echo "Alert: $1 is not named as an FL3 index: an index is named _index.bin (in any case) and its members lie beside it. Nothing is written."; }
for name in backup_index.bin index.bin x_index.bin _index.bi _index.bin/; do
    check "encode-fl3 refuses the index name $name, writes nothing" 1 "" "$(named "$fl3/data_fl3/$name")" \
        absent "$fl3/named.fl3" "$cli" encode-fl3 "$fl3/data_fl3/$name" "$fl3/named.fl3"
done
check "encode-fl3 index.bin (one shorter than _index.bin) in the current folder" 1 "" "$(named index.bin)" \
    absent "$fl3/named.fl3" bash -c "cd '$fl3/data_fl3' && '$cli' encode-fl3 index.bin ../named.fl3"
rm "$fl3/data_fl3/backup_index.bin" "$fl3/data_fl3/index.bin"
check "encode-fl3 _index.bin from the current folder" 0 "" "" \
    bash -c "cd '$fl3/data_fl3' && '$cli' encode-fl3 _index.bin ../rel.fl3 > /dev/null && cmp ../rel.fl3 ../orig.fl3"
check "encode-fl3 _INDEX.BIN" 0 "" "" \
    bash -c "'$cli' encode-fl3 '$fl3/data_fl3/_INDEX.BIN' '$fl3/upper.fl3' > /dev/null && cmp '$fl3/upper.fl3' '$fl3/orig.fl3'"
rm "$fl3/data_fl3/_INDEX.BIN"

check "extract-fl3 missing archive" 1 "Extracting $fl3/none.fl3" "Alert: $fl3/none.fl3 not found" \
    "$cli" extract-fl3 "$fl3/none.fl3"
check "encode-fl3 missing index" 1 "" "Alert: $fl3/none/_index.bin not found" \
    "$cli" encode-fl3 "$fl3/none/_index.bin" "$fl3/x.fl3"
rm "$fl3/data_fl3/one.bin"
check "encode-fl3 skips a missing member" 1 "*" "Alert: $fl3/data_fl3/one.bin not found
Skip it" "$cli" encode-fl3 "$idx" "$fl3/skip.fl3"
mkdir -p "$fl3/bad"
printf '\001\000\000\000\002..' > "$fl3/bad/_index.bin"
check "encode-fl3 refuses an index without end marker, writes nothing" 1 "" "*" absent "$fl3/x.fl3" "$cli" encode-fl3 "$fl3/bad/_index.bin" "$fl3/x.fl3"

check "extract-fl3 usage" 2 "" "*" "$cli" extract-fl3
check "encode-fl3 usage" 2 "" "*" "$cli" encode-fl3 "$idx"
