#!/usr/bin/python3
"""What refusing a decompression bomb costs.

Every file of tests/data/limits and tests/data/hostile whose header claims
far more pixels than its bytes hold goes through one tavrel process with the
service limits (the defaults of driver/job/input_limits.h); the table shows
each file's exit status, the median wall time over the rounds and the peak
resident memory of the process (its own rusage, not the tree's), against
the 10 ms and 20 MB a refusal may cost; the process's start (its libraries
set up) is measured alone, with //version, and taken off. The time of the
refusal alone, in one process, is bench_limit_bombs.cpp's. Standard
library only.

    python3 bench/limit_bombs.py [--tavrel build/tavrel] [--rounds 5]
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
DATA = REPO / "tests" / "data"
SERVICE = ["//limit-pixels", "50000000", "//limit-frames", "1000",
           "//limit-work", "500000000", "//limit-bytes", "100000000", "//timeout", "10"]
BOMBS = [
    "limits/gif_8000x8000_two_pixels.gif",
    "limits/jpeg_65500x65500.jpg",
    "limits/png_1000000x1000000.png",
    "limits/png_100000x100000.png",
    "limits/tiff_1000000x1000000.tif",
    "limits/heic_1000000x1000000.heic",
    "limits/avif_1000000x1000000.avif",
    "limits/gif_far_frame.gif",
    "limits/webp_65000x65000_animated.webp",
    "limits/webp_16777216x1_canvas.webp",
    "hostile/huge_100000x100000.png",
    "hostile/huge_100000x100000.tif",
    "hostile/huge_100000x100000.heic",
    "hostile/huge_100000x100000.avif",
    "hostile/huge_100000x100000_anim.webp",
    "hostile/gif_screen_65535x65535_frame_1x1.gif",
    "hostile/gif_screen_20000x20000_frame_100x100.gif",
    "hostile/gif_frame_20000x20000_one_row.gif",
    "hostile/canvas_16383x16383_frame_1x1.webp",
    "hostile/largest_16384x16384_lossless.webp",
]


def run_once(tavrel, bomb, out):
    """Exit status, wall seconds and peak RSS in KiB of one run."""
    return run_once_args([tavrel, *SERVICE, "//animated", "/w", "100", "/c", "webp",
            "/o", out, str(DATA / bomb)])


def run_once_args(args):
    start = time.perf_counter()
    child = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    err = child.stderr.read().decode(errors="replace").strip()
    child.stderr.close()
    return os.waitstatus_to_exitcode(status), wall, usage.ru_maxrss, err


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tavrel", default=str(REPO / "build" / "tavrel"))
    parser.add_argument("--rounds", type=int, default=5)
    opts = parser.parse_args()
    print("| file | status | line | wall beyond the start (median of %d) | peak RSS |" % opts.rounds)
    print("|---|---:|---|---:|---:|")
    worst_ms, worst_mib = 0.0, 0.0
    start = [run_once_args([opts.tavrel, "//version"]) for _ in range(opts.rounds)]
    start_ms = statistics.median(r[1] for r in start) * 1000
    start_mib = max(r[2] for r in start) / 1024
    with tempfile.TemporaryDirectory() as scratch:
        out = os.path.join(scratch, "out.webp")
        for bomb in BOMBS:
            runs = [run_once(opts.tavrel, bomb, out) for _ in range(opts.rounds)]
            status, _, _, err = runs[0]
            ms = statistics.median(r[1] for r in runs) * 1000 - start_ms
            mib = max(r[2] for r in runs) / 1024
            worst_ms, worst_mib = max(worst_ms, ms), max(worst_mib, mib)
            line = err.splitlines()[0].replace(str(DATA) + "/", "") if err else ""
            print(f"| {bomb} | {status} | `{line}` | {ms:.1f} ms | {mib:.1f} MiB |")
            if os.path.exists(out):
                print(f"  {bomb}: an output was written", file=sys.stderr)
                os.remove(out)
    print(f"\nthe process's start alone (//version): {start_ms:.1f} ms, {start_mib:.1f} MiB")
    print(f"worst: {worst_ms:.1f} ms beyond the start, {worst_mib:.1f} MiB "
          f"({'within' if worst_ms < 10 and worst_mib < 20 else 'beyond'} 10 ms and 20 MB)")


if __name__ == "__main__":
    main()
