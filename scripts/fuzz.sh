#!/usr/bin/env bash
# Builds the libFuzzer targets into build-fuzz and runs each named target for
# SECONDS, starting from seeds taken from the test data. A target that stops
# on a crash, leak or timeout is started again until its time is used up; the
# findings land in build-fuzz/artifacts/<target>/.
#   scripts/fuzz.sh SECONDS [target...]     (no target: all of them)
#   scripts/fuzz.sh short                   (job 60 s, import_jpeg and import_png
#                                            20 s each: a check before merging)
# Targets: job import_jpeg import_png import_tiff import_webp import_gif
#          import_heif import_jxl metadata_dump command_line animation_gif
#          animation_webp animation_jxl gif_writer job_animated
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"
data="$root/tests/data"
all=(job import_jpeg import_png import_tiff import_webp import_gif import_heif import_jxl metadata_dump
     command_line animation_gif animation_webp animation_jxl gif_writer job_animated)

# The short run fails when anything new was found.
if [ "${1:-}" = short ]; then
  export TAVREL_FUZZ_STRICT=1
  "$0" 60 job
  exec "$0" 20 import_jpeg import_png
fi
if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]]; then
  sed -n 2,11p "$0" >&2
  exit 2
fi
seconds=$1
shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")

# Seeds per target: the test files of its format, and everything a fuzzer
# found before (the regression inputs).
seed_files() {
  case "$1" in
    import_jpeg) ls "$data"/codecs/*.jpg "$data"/exif/*.jpg ;;
    import_png) ls "$data"/pngsuite/*.png "$data"/exif/*.png ;;
    import_tiff) ls "$data"/formats/*.tif ;;
    import_webp) ls "$data"/formats/*.webp ;;
    import_gif) ls "$data"/formats/*.gif ;;
    import_heif) ls "$data"/formats/*.heic "$data"/formats/*.avif ;;
    job) ls "$data"/codecs/*.jpg "$data"/pngsuite/*.png "$data"/formats/*.{tif,webp,gif} \
      "$root"/fuzz/seeds/job/* ;;
    import_jxl) ls "$data"/formats/*.jxl ;;
    job_animated) ls "$data"/formats/*.{gif,webp,jxl} "$root"/fuzz/seeds/animation_*/* ;;
    animation_gif) ls "$data"/formats/*.gif "$data"/hostile/gif_* "$root"/fuzz/seeds/"$1"/* ;;
    animation_webp) ls "$data"/formats/*.webp "$data"/hostile/*.webp "$root"/fuzz/seeds/"$1"/* ;;
    animation_jxl) ls "$data"/formats/*.jxl "$root"/fuzz/seeds/"$1"/* ;;
    metadata_dump | command_line | gif_writer) ls "$root"/fuzz/seeds/"$1"/* ;;
    *) echo "unknown target: $1" >&2; exit 2 ;;
  esac
  ls "$data"/fuzz-regressions/"$1"/* 2>/dev/null || true
}

# Inputs longer than this are cut: big enough for every seed's structure,
# small enough to keep thousands of runs a second.
max_len() {
  case "$1" in
    import_jpeg | job | job_animated) echo 65536 ;;
    import_gif | animation_gif | metadata_dump) echo 8192 ;;
    command_line) echo 1024 ;;
    gif_writer) echo 16384 ;;
    *) echo 16384 ;;
  esac
}

binaries=()
for t in "${targets[@]}"; do binaries+=("fuzz_$t"); seed_files "$t" >/dev/null; done
CC=${CC:-clang} CXX=${CXX:-clang++} cmake -S "$root" -B "$build" -DTAVREL_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target "${binaries[@]}" -j2 >/dev/null

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/sanitizer/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

for t in "${targets[@]}"; do
  seeds="$build/seeds/$t" corpus="$build/corpus/$t" artifacts="$build/artifacts/$t"
  logs="$build/logs/$t"
  rm -rf "$seeds"
  mkdir -p "$seeds" "$corpus" "$artifacts" "$logs"
  seed_files "$t" | while read -r f; do cp "$f" "$seeds/"; done

  before=$(ls "$artifacts" | wc -l)
  left=$seconds runs=0 executions=0
  while [ "$left" -gt 0 ] && [ "$runs" -lt 20 ]; do
    runs=$((runs + 1))
    log="$logs/run$runs.log"
    started=$(date +%s)
    "$build/fuzz/fuzz_$t" "$corpus" "$seeds" -max_total_time="$left" -rss_limit_mb=2048 \
      -timeout=10 -max_len="$(max_len "$t")" -print_final_stats=1 \
      -artifact_prefix="$artifacts/" >"$log" 2>&1 || true
    left=$((left - ($(date +%s) - started)))
    n=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    executions=$((executions + ${n:-0}))
    grep -E "^==[0-9]+==ERROR|runtime error|ALARM|out-of-memory|deadly signal" "$log" | head -3 || true
  done
  echo "$t: $((seconds - left)) s, $runs run(s), $executions executions," \
    "corpus $(ls "$corpus" | wc -l) files ($(du -sk "$corpus" | cut -f1) KB)," \
    "findings $(ls "$artifacts" | wc -l)"
  new=$(($(ls "$artifacts" | wc -l) - before))
  [ "${TAVREL_FUZZ_STRICT:-}" != 1 ] || [ "$new" -eq 0 ] || failed=1
done
exit "${failed:-0}"
