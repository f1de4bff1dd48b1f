#!/usr/bin/env bash
# Installs, when missing, the Debian packages that building and testing
# Vidodide needs. Run as root (or with sudo available).
set -eu
packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libbenchmark-dev pkg-config libspng-dev zlib1g-dev
          libz-mingw-w64-dev libsoxr-dev dpkg-dev nlohmann-json3-dev libxxhash-dev xxhash xdelta3 libdeflate-dev python3
          libxlsxwriter-dev libminizip-dev libexpat1-dev
          mingw-w64 wine wine64 fonts-wine xvfb imagemagick sox procps)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
sudo=
[ "$(id -u)" = 0 ] || sudo=sudo
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The Windows program links libraries that Debian packages only for Linux:
# their source, of the very version installed, as Debian ships it (patches
# applied), for our CMake to build with MinGW-w64.
src_root=/usr/local/src/vidodide
source_of() {  # INSTALLED_BINARY_PACKAGE FOLDER: the source package it was built from
    local package version
    package=$(dpkg-query -W -f='${source:Package}' "$1")
    version=$(dpkg-query -W -f='${source:Version}' "$1")
    [ -f "$src_root/$2.version" ] && [ "$(cat "$src_root/$2.version")" = "$version" ] && return 0
    if ! apt-get source --print-uris "$package=$version" >/dev/null 2>&1; then
        # The release and its security updates (expat's fixes come from there).
        codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
        printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s %s-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n\nTypes: deb-src\nURIs: http://deb.debian.org/debian-security\nSuites: %s-security\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
            "$codename" "$codename" "$codename" | $sudo tee /etc/apt/sources.list.d/vidodide-src.sources >/dev/null
        $sudo apt-get update -qq
    fi
    # A mirror may lack the source of a security update: then the newest
    # source of the same package that it has (said so below).
    local tmp used=
    tmp=$(mktemp -d)
    for v in "$version" $(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -rV); do
        if (cd "$tmp" && rm -rf ./* && apt-get source -qq --download-only "$package=$v" >/dev/null 2>&1 &&
            dpkg-source -x --no-check ./*.dsc unpacked >/dev/null); then
            used=$v
            break
        fi
    done
    if [ -z "$used" ]; then
        echo "could not fetch the source of $package" >&2
        rm -rf "$tmp"
        return 1
    fi
    [ "$used" = "$version" ] || echo "$package: the source of $version is not on the mirror; using that of $used"
    $sudo mkdir -p "$src_root"
    $sudo rm -rf "${src_root:?}/$2"
    $sudo mv "$tmp/unpacked" "$src_root/$2"
    echo "$version" | $sudo tee "$src_root/$2.version" >/dev/null
    rm -rf "$tmp"
}
source_of libsoxr-dev soxr
# The spreadsheet tables: libxlsxwriter writes XLSX, minizip (zlib's) reads
# XLSX and ODS and writes ODS, expat parses their XML.
source_of libxlsxwriter-dev xlsxwriter
source_of libminizip-dev minizip
source_of libexpat1-dev expat
# Patches of VCDIFF deltas: xdelta3's library, which Debian packages only as
# its program (installed above, for the tests): both builds compile its source.
source_of xdelta3 xdelta3
# The deltas' checksums: libdeflate's Adler-32, which the Windows program
# compiles from source.
source_of libdeflate-dev libdeflate
