#!/usr/bin/env bash
# Installs the build dependencies, builds Corvix and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
if [[ -x build/Classes/App/corvix ]]; then
    exec build/Classes/App/corvix "$@"
fi
exec build/cli/corvix-cli --help
