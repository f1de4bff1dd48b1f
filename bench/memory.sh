#!/usr/bin/env bash
# Peak memory of the commands whose memory could follow their input, on
# inputs made for it, against the bound of 64 MiB + 16 MiB per worker:
#
#   unpack      a game whose archive's header gives a directory of 150 MB
#               (extract-fl3 of the same archive beside it)
#   unpack      a game whose one member is a WV5 sound of 40 MB
#   unpack      4 archives of 65,535 members each; status of that work folder,
#               and repack of it after one member file was replaced
#   repack      a work folder whose sound (a WAV file of 60 MB) was edited
#   list-fl3    10 archives of 65,535 members, as text and with --json
#   import-text a table whose translation field holds 100 MB
#
# Each command that takes -j runs with -j 1 and -j 2; the others count as
# one worker. The peak is the maximum resident set that GNU time reports.
# Builds nothing: give the two programs, or it takes those of build/native.
# The scratch folder (about 2 GB at the most) is removed afterwards.
#
#   bench/memory.sh [VIDODIDE [VIDODIDE_SAMPLES]]     (BENCH_DIR=folder, default /tmp)
#
# Exit status 1 when any command went over its bound.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
vid=$(realpath "${1:-$root/build/native/vidodide}")
samples=$(realpath "${2:-$root/build/native/vidodide-samples}")
for p in "$vid" "$samples"; do
    [ -x "$p" ] || { echo "memory.sh: $p is not a program (build it first)" >&2; exit 2; }
done
if ! [ -x /usr/bin/time ]; then
    sudo=; [ "$(id -u)" = 0 ] || sudo=sudo
    $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq time >/dev/null
fi
command -v python3 >/dev/null || { echo "memory.sh: python3 is needed to make the inputs" >&2; exit 2; }
scratch=$(mktemp -d "${BENCH_DIR:-/tmp}/vidodide-memory.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

# The inputs, byte by byte. FL3: the 28-byte header ("FL3.", u32 48, u16 28,
# u32 directory length, u32 directory offset, u16 entry count, 8 zero
# bytes), the members' bytes from offset 28, then the directory (u32 size,
# u8 name length, name) closed by FF FF FF FF. WV5: 4 bytes, u16 channels,
# u32 rate, u32 frames, i32 runs, then runs (here kind 1: 256 codes each).
python3 - <<'PY'
import os, struct

def fl3(path, members, dir_length=None, after=0):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(b"\0" * 28)
        for name, data in members:
            f.write(data)
        offset = f.tell()
        directory = b"".join(struct.pack("<IB", len(d), len(n)) + n for n, d in members) + b"\xff" * 4
        f.write(directory)
        if after:
            f.truncate(f.tell() + after)  # zeros, sparse on disk
        f.seek(0)
        f.write(b"FL3." + struct.pack("<IHIIH", 48, 28, dir_length or len(directory), offset, len(members)) + b"\0" * 8)

def wv5(runs):
    # A triangle: 16 codes of +260 (code 48), then 16 of -260 (code 176).
    run = b"\x01" + (bytes([48]) * 16 + bytes([176]) * 16) * 8
    return b"\0\0\0\0" + struct.pack("<HIIi", 1, 22050, 256 * runs, runs) + run * runs

# 1. A directory of 150 MB as the header gives it: three members, their
# directory, and 150 MB of zeros after it, which the directory's length takes in.
fl3("dir/game/big.fl3", [(b"a.dat", b"A" * 100), (b"b.dat", b"B" * 200), (b"c.dat", b"C" * 300)],
    dir_length=150_000_000, after=150_000_000)
# 2. One sound member of 40 MB (155,641 runs of 257 bytes and the header).
fl3("sound/game/voice.fl3", [(b"voice.wv5", wv5(155_641))])
# 4. A sound member of 30 MB (116,732 runs: a WAV file of 60 MB), and the
# edited sound to put in its place: 60 MB, 16-bit mono at 22,050 Hz,
# 30,000,000 samples of a 50 Hz triangle.
fl3("repack/game/voice.fl3", [(b"voice.wv5", wv5(116_732)), (b"other.dat", b"other")])
period = [int(8000 - abs(i - 220.5) * 72) for i in range(441)]
block = struct.pack("<441h", *period) * 1000
data = 60_000_000
with open("repack/new.wav", "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", 36 + data) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, 1, 22050, 44100, 2, 16) + b"data" + struct.pack("<I", data))
    left = data
    while left:
        piece = block[:left]
        f.write(piece)
        left -= len(piece)
# 6. A script with one Update Text ("Hello"), and a table whose translation of it holds 100 MB.
os.makedirs("text/scripts", exist_ok=True)
with open("text/script.ab", "wb") as f:
    f.write(b"\x01\x00\x01\x00Hello\x00")
with open("text/table.csv", "wb") as f:
    f.write(b"script,n,original,translation\r\nt.ab,1,Hello,")
    for _ in range(100):
        f.write(b"x" * 1_000_000)
    f.write(b"\r\n")
PY
# 3 and 5. Archives of 65,535 members (16 bytes each on average).
mkdir -p many
for i in 1 2 3 4 5 6 7 8 9 10; do
    "$samples" --archive 65535 1 "many/a$i.fl3" >/dev/null
done
mkdir -p many/game
for i in 1 2 3 4; do ln "many/a$i.fl3" "many/game/a$i.fl3"; done

rows=()
# Runs a command (after the label's three fields: command, input, workers)
# and records its peak memory and exit status.
measure() {
    local command=$1 input=$2 workers=$3 rc peak bound verdict
    shift 3
    rc=0
    /usr/bin/time -f '%M' -o mem.txt "$@" >out.txt 2>err.txt || rc=$?
    peak=$(( $(tail -n 1 mem.txt) / 1024 ))
    bound=$((64 + 16 * workers))
    verdict=ok; [ "$peak" -le "$bound" ] || verdict=OVER
    rows+=("$(printf '%-12s %-34s %7s %9s %9s %-5s %4s' "$command" "$input" "$workers" "$peak" "$bound" "$verdict" "$rc")")
    printf '%s\n' "${rows[-1]}" >&2
    if [ "$rc" != 0 ]; then sed 's/^/    /' err.txt | head -n 2 | cut -c 1-160 >&2; fi
}

for j in 1 2; do
    measure unpack "directory of 150 MB" "$j" "$vid" unpack -j "$j" dir/game dir/work$j
    rm -rf dir/work$j
done
measure extract-fl3 "directory of 150 MB" 1 "$vid" extract-fl3 dir/game/big.fl3
rm -rf dir/game/big_fl3

for j in 1 2; do
    measure unpack "sound member of 40 MB" "$j" "$vid" unpack -j "$j" sound/game sound/work$j
    rm -rf sound/work$j
done

for j in 1 2; do
    rm -rf many/work
    measure unpack "4 archives x 65,535 members" "$j" "$vid" unpack -j "$j" many/game many/work
done
measure status "4 archives x 65,535 members" 1 "$vid" status many/work
printf 'replaced' >many/work/a2_fl3/member7.dat
for j in 1 2; do
    measure repack "4 archives x 65,535, one replaced" "$j" "$vid" repack -j "$j" many/work many/out$j
    rm -rf many/out$j
done
rm -rf many/work

"$vid" unpack repack/game repack/work >/dev/null
wav=$(find repack/work/edit -name 'voice.wav')
cp repack/new.wav "$wav"
for j in 1 2; do
    measure repack "edited WAV of 60 MB" "$j" "$vid" repack -j "$j" repack/work repack/out$j
    rm -rf repack/out$j
done

archives=(many/a{1..10}.fl3)
measure list-fl3 "10 archives x 65,535 members" 1 "$vid" list-fl3 "${archives[@]}"
measure "list --json" "10 archives x 65,535 members" 1 "$vid" list-fl3 --json "${archives[@]}"

rm -rf text/scripts && mkdir text/scripts && cp text/script.ab text/scripts/t.ab
measure import-text "translation field of 100 MB" 1 "$vid" import-text text/scripts text/table.csv

echo
printf '%-12s %-34s %7s %9s %9s %-5s %4s\n' command input workers "peak MiB" "bound MiB" "" exit
printf '%s\n' "${rows[@]}"
over=$(printf '%s\n' "${rows[@]}" | grep -c ' OVER ' || true)
echo "$over of ${#rows[@]} over the bound"
[ "$over" = 0 ]
