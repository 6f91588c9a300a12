#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks, then configures and builds a
# preset (default: "default"). Safe to run again: nothing is installed twice.
set -euo pipefail
cd "$(dirname "$0")/.."

preset="${1:-default}"
packages=(cmake ninja-build g++ clang libclang-rt-14-dev
          qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-webengine-dev libgl-dev
          fonts-liberation xvfb poppler-utils libcanberra-dev
          desktop-file-utils appstream dpkg-dev file scdoc man-db lintian
          libpq-dev pkgconf
          postgresql) # its server binaries: the tests start a cluster of their own

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=""
    [[ $(id -u) -ne 0 ]] && sudo="sudo"
    echo "setup: installing ${missing[*]}"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
fi

cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
