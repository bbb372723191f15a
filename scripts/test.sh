#!/usr/bin/env bash
# Installs what is missing, builds Quillmere twice (optimised, and with
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs every test,
# including the ones that boot a VM with a real kernel input stack.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DQUILLMERE_TESTS=ON -DQUILLMERE_BENCH=ON -DQUILLMERE_VM_TESTS=ON -DQUILLMERE_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLMERE_SANITIZE=ON \
  -DQUILLMERE_TESTS=ON -DQUILLMERE_VM_TESTS=OFF -DQUILLMERE_BENCH=OFF -DQUILLMERE_WERROR=ON -DCMAKE_CXX_FLAGS=-O1 >/dev/null
cmake --build build-asan -j "$jobs"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
echo "== sanitizer build =="
ctest --test-dir build-asan -j "$jobs" --output-on-failure --no-tests=error
echo "== optimised build, VM tests included =="
ctest --test-dir build -j "$jobs" --output-on-failure --no-tests=error
