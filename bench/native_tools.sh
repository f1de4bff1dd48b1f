# Sourced by the benchmark scripts, from the repository's root: builds the
# native command line and sample maker, sets $vid and $samples to them, and
# makes the scratch folder $scratch under $1 (default /tmp), named after
# $bench_name, removed when the script ends; the script continues in it.
bash scripts/install-deps.sh >/dev/null
cmake --preset native >/dev/null
cmake --build --preset native -j2 --target vidodide vidodide-samples >/dev/null
vid=$PWD/build/native/vidodide
samples=$PWD/build/native/vidodide-samples
scratch=$(mktemp -d "${1:-/tmp}/vidodide-$bench_name-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
