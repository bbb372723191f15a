#!/usr/bin/env bash
# Installs what is missing, builds Quillmere (optimised, with AddressSanitizer
# + UndefinedBehaviorSanitizer, and the input thread's tests with
# ThreadSanitizer) and runs every test, including the ones that boot a VM
# with a real kernel input stack and the distribution's own checks of the
# package. Warnings are errors here. Benchmarks are not part of the run:
# ctest --test-dir build -L bench.
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
# ThreadSanitizer: the input thread's loop, hand-over and settings snapshot.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLMERE_TSAN=ON \
  -DQUILLMERE_TESTS=ON -DQUILLMERE_VM_TESTS=OFF -DQUILLMERE_BENCH=OFF -DQUILLMERE_WERROR=ON \
  -DCMAKE_CXX_FLAGS=-O1 >/dev/null
cmake --build build-tsan -j "$jobs" --target input_thread_tests

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
echo "== thread sanitizer build =="
ctest --test-dir build-tsan -j "$jobs" --output-on-failure --no-tests=error
echo "== sanitizer build =="
ctest --test-dir build-asan -j "$jobs" -LE bench --output-on-failure --no-tests=error
echo "== optimised build =="
ctest --test-dir build -j "$jobs" -LE 'bench|vm' --output-on-failure --no-tests=error
# The emulated VM gets the machine to itself: its timing is what two of the
# tests compare, and a loaded host slows it past its limits.
echo "== optimised build, VM tests =="
ctest --test-dir build -L vm -LE bench --output-on-failure --no-tests=error

# Lines of C++ that are neither blank nor comments.
loc() { find "$@" -type f \( -name '*.cpp' -o -name '*.h' \) -exec cat {} + | awk '/^[[:space:]]*\/\*/ { c = 1 }
  c { c = !/\*\//; next } !/^[[:space:]]*(\/\/|$)/ { n++ } END { print n + 0 }'; }
awk -v t="$(loc tests)" -v s="$(loc src ! -path src/ui/Translations.cpp)" 'BEGIN {
  printf "tests/src: %d / %d = %.2f (non-blank, non-comment lines of .cpp/.h; src/ui/Translations.cpp not counted)\n", t, s, t / s }'
