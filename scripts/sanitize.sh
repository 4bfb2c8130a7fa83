#!/usr/bin/env bash
# Builds every test with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan/ (g++) and runs them all. Any report fails the run: undefined
# behaviour aborts (-fno-sanitize-recover), and so do memory errors and leaks.
#
#   bash scripts/sanitize.sh [extra cmake options...]
#
# JOBS (default 2) sets the build and test parallelism.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-asan
jobs="${JOBS:-2}"

# The test programs also run while building (to list their cases), so the
# options hold for the build as well.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:strict_init_order=1:check_initialization_order=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
# Leaks inside system libraries the window's tests load, and only those.
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export QT_QPA_PLATFORM=offscreen

start=$(date +%s)
# Unoptimised: instrumented code compiles several times faster that way, and
# the tests are short. The compiler is chosen when the directory is first configured (naming it
# again on later runs would make CMake drop the cache and these options).
CXX=g++ cmake -S . -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug \
  -DVYO_SANITIZE=ON -DVYO_BUILD_TESTS=ON -DVYO_BUILD_APPS=ON -UVYO_TEST_DIRS "$@"
cmake --build "$build" -j"$jobs"
built=$(date +%s)

ctest --test-dir "$build" --output-on-failure -j"$jobs" --timeout 600
done_at=$(date +%s)

echo "sanitize: build $((built - start)) s, tests $((done_at - built)) s"
