# extract-fl3 and encode-fl3: the sample archive there and back, and failures.
fl3=$work/fl3
mkdir -p "$fl3"
"$samples" "$fl3" >/dev/null
arc=$fl3/data.fl3
cp "$arc" "$fl3/orig.fl3"

check "extract-fl3 sample" 0 "*" "" "$cli" extract-fl3 "$arc"
check "extract-fl3 first and last texts" 0 "Extracting $arc
Extracting $arc:readme.txt" "" sh -c "'$cli' extract-fl3 '$arc' | head -n 2"
check "extract-fl3 ends OK" 0 "Extracting OK" "" sh -c "'$cli' extract-fl3 '$arc' | tail -n 1"
check "empty member" 0 "0" "" sh -c "wc -c < '$fl3/data_fl3/empty.dat' | tr -d ' '"
check "encode-fl3 in place" 0 "*" "" "$cli" encode-fl3 "$fl3/data_fl3/_index.bin" "$arc"
check "round trip is byte-identical" 0 "" "" cmp "$arc" "$fl3/orig.fl3"
check "encode-fl3 texts" 0 "Compacting $fl3/new.fl3
Compacting readme.txt into $fl3/data_fl3/readme.txt" "" \
    sh -c "'$cli' encode-fl3 '$fl3/data_fl3/_index.bin' '$fl3/new.fl3' | head -n 2"

check "extract-fl3 missing archive" 1 "Extracting $fl3/none.fl3" "Alert: $fl3/none.fl3 not found" \
    "$cli" extract-fl3 "$fl3/none.fl3"
check "encode-fl3 missing index" 1 "" "Alert: $fl3/none/_index.bin not found" \
    "$cli" encode-fl3 "$fl3/none/_index.bin" "$fl3/x.fl3"
rm "$fl3/data_fl3/one.bin"
check "encode-fl3 skips a missing member" 1 "*" "Alert: $fl3/data_fl3/one.bin not found
Skip it" "$cli" encode-fl3 "$fl3/data_fl3/_index.bin" "$fl3/skip.fl3"
printf '\001\000\000\000\002..' > "$fl3/bad_index.bin"
check "encode-fl3 refuses an index without end marker" 1 "" "*" \
    "$cli" encode-fl3 "$fl3/bad_index.bin" "$fl3/x.fl3"
check "nothing written for a refused index" 1 "" "" test -e "$fl3/x.fl3"
check "extract-fl3 usage" 2 "" "*" "$cli" extract-fl3
check "encode-fl3 usage" 2 "" "*" "$cli" encode-fl3 "$fl3/data_fl3/_index.bin"
