#!/usr/bin/env bash
# Installs what is missing, builds Quillmere and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DQUILLMERE_TESTS=OFF -DQUILLMERE_BENCH=OFF -DQUILLMERE_WERROR=OFF >/dev/null
cmake --build build --target quillmere
exec build/src/app/quillmere
