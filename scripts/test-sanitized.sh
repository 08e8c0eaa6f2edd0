#!/usr/bin/env bash
# Builds the whole suite with AddressSanitizer and UndefinedBehaviorSanitizer
# into build-asan/ (or $BUILD_DIR) and runs every test under them. The build
# runs each test, and every tavrel a test starts, with leak checking, null
# from failed allocations and undefined behaviour fatal (see CMakeLists.txt).
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${BUILD_DIR:-build-asan}"
scripts/install-deps.sh test
cmake -S . -B "$dir" -DTAVREL_TESTS=ON -DTAVREL_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  >/dev/null
cmake --build "$dir" -j"$(nproc)"
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
