#!/usr/bin/env bash
# Installs everything Corvix needs to build, test and benchmark, from Debian packages.
# Run as root on Debian 12 (bookworm).
set -euo pipefail

packages=(
    build-essential cmake pkg-config git
    libssl-dev openssl
    qt6-base-dev libgl-dev
    fonts-wqy-microhei  # a font with the Chinese glyphs the window shows
    qt6-translations-l10n  # Qt's own dialog texts in Chinese
    libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev libcli11-dev
    clang libclang-rt-dev
    xvfb xauth time hyperfine bc
    desktop-file-utils libxml2-utils  # check the installed menu entry and icon in the .deb test
    scdoc  # the man pages
    lintian bash-completion  # check the .deb and its completion in the .deb test
    strace  # the header scan's reads, a replacing write's and the file layer's system calls
)

# Intel's multi-buffer crypto library encrypts many chunks at once; it exists for x86-64 only.
if [[ "$(dpkg --print-architecture)" == amd64 ]]; then
    packages+=(libipsec-mb-dev)
fi

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
