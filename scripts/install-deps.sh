#!/usr/bin/env bash
# Installs, when missing, the Debian packages that building and testing
# Vidodide needs. Run as root (or with sudo available).
set -eu
packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libbenchmark-dev pkg-config libspng-dev zlib1g-dev
          libz-mingw-w64-dev libsoxr-dev dpkg-dev nlohmann-json3-dev libxxhash-dev python3
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
source_of() {  # PACKAGE (a source package) INSTALLED_BINARY_PACKAGE FOLDER
    local version
    version=$(dpkg-query -W -f='${Version}' "$2")
    [ -f "$src_root/$3.version" ] && [ "$(cat "$src_root/$3.version")" = "$version" ] && return 0
    if ! apt-get source --print-uris "$1=$version" >/dev/null 2>&1; then
        printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
            "$(. /etc/os-release && echo "$VERSION_CODENAME")" | $sudo tee /etc/apt/sources.list.d/vidodide-src.sources >/dev/null
        $sudo apt-get update -qq
    fi
    local tmp
    tmp=$(mktemp -d)
    (cd "$tmp" && apt-get source -qq --download-only "$1=$version" >/dev/null 2>&1 &&
        dpkg-source -x --no-check ./*.dsc unpacked >/dev/null)
    $sudo mkdir -p "$src_root"
    $sudo rm -rf "${src_root:?}/$3"
    $sudo mv "$tmp/unpacked" "$src_root/$3"
    echo "$version" | $sudo tee "$src_root/$3.version" >/dev/null
    rm -rf "$tmp"
}
source_of libsoxr libsoxr-dev soxr
