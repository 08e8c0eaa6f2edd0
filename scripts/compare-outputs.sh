#!/usr/bin/env bash
# Runs two tavrel binaries over one table of command lines (sources from
# tests/data x geometry and options x codecs) and says where their output
# files, standard error or exit status differ: a change that must keep the
# bytes (a refactoring, a faster path) is checked against the binary
# before it. Usage: scripts/compare-outputs.sh OLD_TAVREL NEW_TAVREL
# Exits 1 when any line differs.
set -uo pipefail
[ $# -eq 2 ] || { echo "usage: $0 OLD_TAVREL NEW_TAVREL" >&2; exit 2; }
old=$(realpath "$1") new=$(realpath "$2")
data="$(cd "$(dirname "$0")/.." && pwd)/tests/data"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sources=(orientation/landscape_6.jpg orientation/landscape_3.jpg exif/Canon_40D.jpg
         pngsuite/basn6a16.png pngsuite/basn6a08.png pngsuite/basi0g04.png
         formats/rgb16_zip.tif formats/rgba_lossless.webp formats/rgba_lossy.jxl
         formats/rgba8.heic formats/animated.gif formats/animated.webp)
options=("/w 37" "/h 29 /r 90" "/w 40 /r 180 //centre" "//fit 30 30 //upright"
         "//fill 25 40 /r 270 //centre" "/w 33 //linear //premultiply /b 64"
         "/w 33 /b 48 //background 102030" "/w 50 /p hwvp /k G" "/w 31 /b 8"
         "//web /w 60" "/m /w 30 //upright" "//no-enlarge /w 900" "/w 45 /p wp /k W /r -90"
         "/w 29 //animated" "//fill 20 20 //animated /r 90 /b 32")
codecs=(png jpg webp tif)

run() {  # binary, folder, source, options, codec
  mkdir -p "$2"
  (cd "$2" && "$1" $4 /c "$5" /o "out.$5" "$data/$3" 2>err; echo $? >status)
}
sized() {  # binary, folder, source
  mkdir -p "$2"
  (cd "$2" && "$1" //sizes 24,41x30 /o 'out-{w}.png' "$data/$3" 2>err; echo $? >status)
}

lines=0 differ=0
for s in "${sources[@]}"; do
  for o in "${options[@]}"; do
    for c in "${codecs[@]}"; do
      lines=$((lines + 1))
      run "$old" "$work/old" "$s" "$o" "$c"
      run "$new" "$work/new" "$s" "$o" "$c"
      if ! diff -r "$work/old" "$work/new" >/dev/null; then
        differ=$((differ + 1)); echo "differs: $o /c $c $s"
      fi
      rm -rf "$work/old" "$work/new"
    done
  done
  lines=$((lines + 1))
  sized "$old" "$work/old" "$s"; sized "$new" "$work/new" "$s"
  diff -r "$work/old" "$work/new" >/dev/null || { differ=$((differ + 1)); echo "differs: //sizes $s"; }
  rm -rf "$work/old" "$work/new"
done
echo "$lines command lines, $differ differ"
[ "$differ" -eq 0 ]
