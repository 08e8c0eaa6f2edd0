#!/usr/bin/env bash
# Installs the peers, builds tavrel (Release) and runs the whole-process
# benchmark; arguments go to bench/whole_process.py (e.g. --runs 9,
# --items J1,P16, --markdown results.md).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh bench
dir="${BUILD_DIR:-build}"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$dir" --target tavrel -j"$(nproc)"
exec /usr/bin/python3 bench/whole_process.py --tavrel "$dir/tavrel" "$@"
