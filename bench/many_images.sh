#!/usr/bin/env bash
# Many small inputs: 120 JPEGs of 1600x1200 to 256 px wide, as one
# "//each" run against GNU parallel starting one tavrel per file
# ("parallel -j2 tavrel"), checked to write the same bytes. Prints the
# median and least wall time of RUNS rounds (5 by default) and the peak
# resident memory of each way; "//jobs N" rows for N in JOBS (1 2 3 4).
#   bench/many_images.sh [build/tavrel]
set -euo pipefail
cd "$(dirname "$0")/.."
tavrel="$(realpath "${1:-build/tavrel}")"
runs="${RUNS:-5}"
jobs_list="${JOBS:-1 2 3 4}"
inputs="bench/.inputs/many-1600x1200"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The sample upscaled once, then written at 120 qualities and turns so
# that no two inputs are alike.
if [ ! -f "$inputs/photo-119.jpg" ]; then
  mkdir -p "$inputs"
  "$tavrel" /w 1600 /h 1200 /q 95 /o "$work/big.png" /c png samples/photo.jpg
  for i in $(seq 0 119); do
    "$tavrel" /w 1600 /h 1200 /q $((60 + i % 36)) /r $(((i / 36) * 180)) \
      /o "$inputs/photo-$i.jpg" "$work/big.png"
  done
fi

# Seconds and peak KiB of one command: "seconds kib".
measure() {
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" || {
    cat "$work/err" >&2
    exit 1
  }
  cat "$work/time"
}

# Median and least of the runs, and the largest peak: "median least kib".
summary() {
  sort -n | awk '{ t[NR] = $1; if ($2 > m) m = $2 }
    END { printf "%.2f %.2f %d\n", (NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2), t[1], m }'
}

row() {
  local name="$1"
  shift
  for _ in $(seq "$runs"); do
    rm -rf "$work/out" && mkdir "$work/out"
    measure "$@"
  done | summary | { read -r median least kib; printf "| %-28s | %6s | %6s | %8s |\n" "$name" "$median" "$least" "$kib"; }
}

echo "| way | median s | least s | peak KiB |"
echo "|---|---|---|---|"
row "parallel -j2 tavrel" parallel -j2 "$tavrel" /w 256 /o "$work/out/{/.}.jpg" {} ::: "$inputs"/*.jpg
cp -r "$work/out" "$work/parallel"
for j in $jobs_list; do
  row "//each //jobs $j" "$tavrel" //each //jobs "$j" /w 256 /o "$work/out/{name}.jpg" "$inputs"/*.jpg
done
row "//each (default)" "$tavrel" //each /w 256 /o "$work/out/{name}.jpg" "$inputs"/*.jpg
diff -r "$work/parallel" "$work/out" >/dev/null && echo "same bytes: yes" || { echo "same bytes: NO"; exit 1; }
