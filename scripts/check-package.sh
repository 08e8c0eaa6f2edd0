#!/usr/bin/env bash
# Makes the Debian package from a build, into a scratch folder, and checks it:
# the program, its manual page, the copyright file and the changelog are in
# it, the changelog's latest entry is the package's version, and lintian
# reports no error.
#   scripts/check-package.sh [BUILD_DIR]     (build/ by default)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-${BUILD_DIR:-build}}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
if ! out=$(cpack -G DEB --config "$dir/CPackConfig.cmake" -B "$scratch" 2>&1); then
  echo "$out" >&2
  exit 1
fi
debs=("$scratch"/*.deb)
deb=${debs[0]}
[ -f "$deb" ] || { echo "check-package: cpack made no .deb" >&2; exit 1; }

failed=0
contents=$(dpkg-deb -c "$deb")
for file in usr/bin/tavrel usr/share/man/man1/tavrel.1.gz \
  usr/share/doc/tavrel/copyright usr/share/doc/tavrel/changelog.Debian.gz; do
  if ! grep -q " \./$file\$" <<<"$contents"; then
    echo "check-package: the package lacks /$file" >&2
    failed=1
  fi
done

version=$(dpkg-deb -f "$deb" Version)
logged=$(dpkg-parsechangelog -l doc/debian/changelog -S Version)
if [ "$version" != "$logged" ]; then
  echo "check-package: the package is $version but doc/debian/changelog's" \
    "latest entry is $logged" >&2
  failed=1
fi

# Warnings may stand; errors may not, nor a lintian that could not look.
status=0
report=$(lintian --tag-display-limit 0 "$deb" 2>&1) || status=$?
if grep -q '^E:' <<<"$report"; then
  grep '^E:' <<<"$report" >&2
  failed=1
elif [ $status -ne 0 ]; then
  echo "check-package: lintian failed: $report" >&2
  failed=1
fi
[ $failed -eq 0 ] && echo "check-package: $(basename "$deb") complete, no lintian error"
exit $failed
