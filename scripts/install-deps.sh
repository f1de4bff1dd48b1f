#!/usr/bin/env bash
# Installs, when missing, the Debian packages that building and testing
# Vidodide needs. Run as root (or with sudo available).
set -eu
packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libbenchmark-dev libstb-dev nlohmann-json3-dev libxxhash-dev python3
          mingw-w64 wine wine64 fonts-wine xvfb imagemagick sox)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo=
[ "$(id -u)" = 0 ] || sudo=sudo
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
