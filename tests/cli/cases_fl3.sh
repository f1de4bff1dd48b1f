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

check "extract-fl3 missing archive" 1 "Extracting $fl3/none.fl3" "Alert: $fl3/none.fl3 not found" \
    "$cli" extract-fl3 "$fl3/none.fl3"
check "encode-fl3 missing index" 1 "" "Alert: $fl3/none/_index.bin not found" \
    "$cli" encode-fl3 "$fl3/none/_index.bin" "$fl3/x.fl3"
rm "$fl3/data_fl3/one.bin"
check "encode-fl3 skips a missing member" 1 "*" "Alert: $fl3/data_fl3/one.bin not found
Skip it" "$cli" encode-fl3 "$idx" "$fl3/skip.fl3"
printf '\001\000\000\000\002..' > "$fl3/bad_index.bin"
check "encode-fl3 refuses an index without end marker" 1 "" "*" "$cli" encode-fl3 "$fl3/bad_index.bin" "$fl3/x.fl3"
check "nothing written for a refused index" 1 "" "" test -e "$fl3/x.fl3"
check "extract-fl3 usage" 2 "" "*" "$cli" extract-fl3
check "encode-fl3 usage" 2 "" "*" "$cli" encode-fl3 "$idx"
