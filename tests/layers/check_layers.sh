#!/usr/bin/env bash
# The layers of src/ and what each may include: every include of every
# source is checked against the table below, and the build's own include
# folders are probed, so that an include of a layer above fails both here
# and in the compiler.
#
#   check_layers.sh SRC_DIR LAYER_ROOT CXX
set -u
src=$1 layers=$2 cxx=$3
pass=0 fail=0

# The folders each folder's files may include (their own always).
declare -A may=(
    [platform]=""
    [core]="platform"
    [fl3]="core platform"
    [bm2]="fl3 core platform"
    [wv5]="fl3 core platform"
    [script]="fl3 core platform"
    [formats]="bm2 wv5 script fl3 core platform"
    [project]="formats bm2 wv5 script fl3 core platform"
    [text]="script fl3 core platform"
    [cli]="project text formats bm2 wv5 script fl3 core platform"
    [app]="resources project text formats bm2 wv5 script fl3 core platform"
    [resources]=""
)

for dir in "$src"/*/; do
    folder=$(basename "$dir")
    if [ -z "${may[$folder]+set}" ]; then
        echo "FAIL src/$folder is in no layer"; fail=$((fail + 1)); continue
    fi
    bad=0
    while IFS=: read -r file _ line; do
        target=$(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z0-9_]*\)\/.*/\1/p' <<<"$line")
        [ -z "$target" ] || [ "$target" = "$folder" ] && continue
        case " ${may[$folder]} " in
            *" $target "*) ;;
            *) echo "FAIL ${file#"$src"/} includes $target/, above its layer: ${line#*#}"; bad=1 ;;
        esac
    done < <(grep -n '#[[:space:]]*include[[:space:]]*"' "$dir"*.h "$dir"*.cpp "$dir"*.rc 2>/dev/null)
    if [ $bad = 0 ]; then pass=$((pass + 1)); else fail=$((fail + 1)); fi
done

# The FL3 archive's byte layout and its buffered streams are the archive
# reader's and writer's: above src/fl3 only fl3/archive.h is included.
private=$(grep -ln '#[[:space:]]*include[[:space:]]*"fl3/\(format\|stream\)\.h"' "$src"/*/*.h "$src"/*/*.cpp | grep -v "^$src/fl3/")
if [ -z "$private" ]; then pass=$((pass + 1)); else echo "FAIL fl3/format.h or fl3/stream.h included above src/fl3: $private"; fail=$((fail + 1)); fi

# The compiler sees only a layer's own headers and those below: a probe
# placed in a layer's place compiles with an include from below and fails
# with one from above.
probe() {  # name want(ok|fails) layer-roots... -- header
    local name=$1 want=$2; shift 2
    local flags=() header
    while [ "$1" != -- ]; do flags+=(-I "$layers/$1"); shift; done
    header=$2
    if printf '#include "%s"\n' "$header" | "$cxx" -std=c++20 -fsyntax-only "${flags[@]}" -x c++ - 2>/dev/null; then
        got=ok
    else
        got=fails
    fi
    if [ "$got" = "$want" ]; then pass=$((pass + 1)); else echo "FAIL $name: $got, want $want"; fail=$((fail + 1)); fi
}
probe "core sees platform" ok core platform -- platform/paths.h
probe "core does not see fl3" fails core platform -- fl3/format.h
probe "fl3 sees core" ok fl3 core platform -- core/bytes.h
probe "fl3 does not see bm2" fails fl3 core platform -- bm2/bm2.h
probe "wv5 does not see script" fails wv5 fl3 core platform -- script/listing.h
probe "formats sees wv5" ok formats bm2 wv5 script fl3 core platform -- wv5/codec.h
probe "formats does not see project" fails formats bm2 wv5 script fl3 core platform -- project/project.h
probe "text does not see project" fails text script fl3 core platform -- project/project.h

echo "layers: $pass passed, $fail failed"
[ "$fail" = 0 ]
