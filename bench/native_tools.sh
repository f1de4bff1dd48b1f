# Sourced by the benchmark scripts, from the repository's root: builds the
# native command line and sample maker, sets $vid and $samples to them, and
# makes the scratch folder $scratch under $1 (default /tmp), named after
# $bench_name, removed when the script ends; the script continues in it.
# Then defines `pairs`, which times two commands against each other.
bash scripts/install-deps.sh >/dev/null
cmake --preset native >/dev/null
cmake --build --preset native -j2 --target vidodide vidodide-samples >/dev/null
vid=$PWD/build/native/vidodide
samples=$PWD/build/native/vidodide-samples
scratch=$(mktemp -d "${1:-/tmp}/vidodide-$bench_name-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

# Runs a command, writing "MILLISECONDS PEAK_KIB" to the file $1.
timed() {
    local out=$1 t0 t1
    shift
    t0=$EPOCHREALTIME
    /usr/bin/time -f '%M' -o "$out.mem" "$@" >/dev/null
    t1=$EPOCHREALTIME
    awk -v a="$t0" -v b="$t1" -v m="$(cat "$out.mem")" 'BEGIN { printf "%.0f %s\n", (b - a) * 1000, m }' >"$out"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { printf "%.2f", (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

# Runs RUNS pairs: the command $3 against $4 (shell texts; $1 in them is
# the run's number), each after the untimed command $5 if given, printing
# each pair and the median ratio. $1 and $2 name them.
pairs() {
    local name=$1 other=$2 prep=${5:-:} r a b peak
    : >ratios
    for r in $(seq "$runs"); do
        sh -c "$prep" sh "$r"
        sync
        timed t.a sh -c "$3" sh "$r"
        sh -c "$prep" sh "$r"
        sync
        timed t.b sh -c "$4" sh "$r"
        read -r a peak <t.a
        read -r b _ <t.b
        ratio "$a" "$b" >>ratios; echo >>ratios
        printf 'run %s: %s %s ms, %s %s ms, ratio %s, %s peak %s MiB\n' "$r" "$name" "$a" "$other" "$b" \
            "$(ratio "$a" "$b")" "$name" "$((peak / 1024))"
    done
    printf 'median ratio %s\n' "$(median <ratios)"
}
