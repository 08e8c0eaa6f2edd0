#!/usr/bin/env bash
# Installs a build into a fresh prefix and checks that the program and its
# manual page land where GNUInstallDirs puts them, and that the program runs.
#   scripts/check-install.sh [BUILD_DIR]     (build/ by default)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-${BUILD_DIR:-build}}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$dir" --prefix "$prefix" >/dev/null
for file in bin/tavrel share/man/man1/tavrel.1; do
  if [ ! -f "$prefix/$file" ]; then
    echo "check-install: cmake --install did not place $file" >&2
    exit 1
  fi
done
# /V alone prints the version, then fails for want of a job.
version=$("$prefix/bin/tavrel" /V 2>&1 || true)
if [[ "$version" != tavrel* ]]; then
  echo "check-install: the installed program does not run: $version" >&2
  exit 1
fi
echo "check-install: bin/tavrel and share/man/man1/tavrel.1 installed"
