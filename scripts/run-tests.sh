#!/bin/sh
# Installs what is missing, builds Corvade and runs the whole test suite: first every
# test on the normal build, then the core library's tests built with AddressSanitizer
# and UndefinedBehaviorSanitizer (any report fails the run).
set -e
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j2

cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCORVADE_SANITIZE=ON -DCORVADE_BUILD_GUI=OFF -DCORVADE_BUILD_BENCH=OFF
cmake --build build-sanitize
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    QT_QPA_PLATFORM=offscreen ctest --test-dir build-sanitize --output-on-failure -j2
