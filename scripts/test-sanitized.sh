#!/usr/bin/env bash
# Builds the whole suite with AddressSanitizer and UndefinedBehaviorSanitizer
# into build-asan/ (or $BUILD_DIR) and runs every test under them (or those
# ctest's -R takes from $TESTS). The build runs each test, and every tavrel
# a test starts, with leak checking, null from failed allocations and
# undefined behaviour fatal, and with every report written to a file in
# $BUILD_DIR/sanitizer-logs/ (see CMakeLists.txt). The run fails when a test
# fails or when any report was written, quieted library or not.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${BUILD_DIR:-build-asan}"
scripts/install-deps.sh test
cmake -S . -B "$dir" -DTAVREL_TESTS=ON -DTAVREL_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  >/dev/null
cmake --build "$dir" -j"$(nproc)"
logs="$dir/sanitizer-logs"
rm -rf "$logs"
mkdir -p "$logs"
status=0
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" ${TESTS:+-R "$TESTS"} || status=$?
# A report is an error or undefined behaviour; the allocator's warnings
# about allocations refused with null (allocator_may_return_null) are not.
reports=$(grep -lE 'ERROR: [A-Za-z]+Sanitizer|runtime error:' -r "$logs" | sort || true)
if [ -n "$reports" ]; then
  echo "Sanitizer reports:" >&2
  for report in $reports; do
    echo "== $report" >&2
    cat "$report" >&2
  done
  exit 1
fi
exit "$status"
