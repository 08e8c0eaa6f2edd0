#!/usr/bin/env bash
# Fails when a test started a program that scripts/install-deps.sh does not
# install: every program named in LOG (one path a line, written by the tests
# when $TAVREL_TEST_PROGRAM_LOG is set) must come from a package in the
# script's test group, or from an essential package that every Debian has.
#   scripts/check-test-programs.sh LOG
set -euo pipefail
cd "$(dirname "$0")/.."
log=${1:?usage: scripts/check-test-programs.sh LOG}
root=$(pwd)
mapfile -t listed < <(scripts/install-deps.sh --list test)
# What a listed package depends on comes with it (imagemagick's convert is
# imagemagick-6.q16's).
mapfile -t -O "${#listed[@]}" listed < <(dpkg-query -W -f='${Depends}\n' "${listed[@]}" 2>/dev/null |
  tr ',|' '\n' | sed 's/^ *//; s/[ :(].*//' | grep . | sort -u)

owner() {  # the package that installed a file, trying its /usr-merged twin too
  local path=$1 alt real
  case "$path" in
    /usr/bin/* | /usr/sbin/*) alt=${path#/usr} ;;
    /bin/* | /sbin/*) alt=/usr$path ;;
    *) alt=$path ;;
  esac
  # A program chosen through the alternatives (convert) is its target's.
  real=$(readlink -f "$path")
  # dpkg names diversions (/bin/sh's by dash) before the owner.
  { dpkg -S "$path" 2>/dev/null || dpkg -S "$alt" 2>/dev/null || dpkg -S "$real" 2>/dev/null; } |
    grep -v '^diversion ' | head -1 | cut -d: -f1
}

failed=0 checked=0
while read -r program; do
  case "$program" in "$root"/*) continue ;; esac  # our own build
  checked=$((checked + 1))
  package=$(owner "$program")
  if [ -z "$package" ]; then
    echo "check-test-programs: $program belongs to no installed package" >&2
    failed=1
    continue
  fi
  essential=$(dpkg-query -W -f='${Essential}' "$package" 2>/dev/null || true)
  # Matched in the shell: grep -q would stop reading early, and printf's
  # broken pipe would fail the test under pipefail, now and then.
  if [ "$essential" != yes ] && [[ " ${listed[*]} " != *" $package "* ]]; then
    echo "check-test-programs: the tests start $program (package $package)," \
      "which scripts/install-deps.sh test does not install" >&2
    failed=1
  fi
done < <(sort -u "$log")
echo "check-test-programs: $checked program(s) checked"
exit $failed
