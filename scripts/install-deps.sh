#!/usr/bin/env bash
# Installs the Debian packages that tavrel needs and that are missing.
#   scripts/install-deps.sh          build, run and package (cpack -G DEB)
#   scripts/install-deps.sh test     ... and what the tests and checks need
#   scripts/install-deps.sh bench    ... and what the benchmarks need
#   scripts/install-deps.sh fuzz     ... and what the fuzz targets need
#   scripts/install-deps.sh --list GROUP...   prints the packages, installs nothing
set -euo pipefail

list=false
if [ "${1:-}" = "--list" ]; then
  list=true
  shift
fi

# dpkg-dev and file: cpack's Debian generator works out Depends with them.
packages=(build-essential cmake pkg-config dpkg-dev file
          libjpeg62-turbo-dev libturbojpeg0-dev libpng-dev zlib1g-dev libdeflate-dev libisal-dev
          libtiff-dev libwebp-dev libgif-dev libimagequant-dev libheif-dev libjxl-dev libexiv2-dev
          liblcms2-dev)
for group in "$@"; do
  case "$group" in
    test) packages+=(libgtest-dev libgmock-dev libjpeg-turbo-progs libimage-exiftool-perl
                     imagemagick libtiff-tools webp libjxl-tools man-db pngcheck icc-profiles-free
                     lintian openssh-server openssh-client parallel rsync python3-minimal python3-yaml) ;;
    bench) packages+=(libbenchmark-dev hyperfine libvips-tools imagemagick graphicsmagick gifsicle webp
                      python3-pil libjpeg-turbo-progs) ;;
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    *) echo "unknown group: $group" >&2; exit 2 ;;
  esac
done

if $list; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
