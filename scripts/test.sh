#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
scripts/build.sh -DTAVREL_TESTS=ON
ctest --test-dir build --output-on-failure -j"$(nproc)"
