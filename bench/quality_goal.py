#!/usr/bin/python3
"""//max-bytes and //target-quality: what the search costs in encodes.

    bench/quality_goal.py [--tavrel build/tavrel] [--runs 5]

For each lossy codec, the 24 MP sample (bench/.inputs/shrink-6000x4000.jpg,
made as bench/shrink_on_load.py makes it) resized to 1500x1000 and:
  plain   /q 75
  tiff    the same resize written as TIFF: the run without a lossy encode
  bytes   //max-bytes at 80 % of the plain file's size
  score   //target-quality 0.95
alternating inside each round; the median wall time and the CPU seconds of
the median round. One encode is plain - tiff; the search's cost in encodes
is (bytes - tiff) / (plain - tiff), and likewise for score (whose trials
also decode and compare). Trials and the quality chosen come from the
//report line.
"""
import argparse
import json
import os
import statistics
import subprocess
import tempfile
import time
from pathlib import Path

from shrink_on_load import make_input, timed

CODECS = ("jpg", "webp", "avif", "jxl")


def run_rounds(argvs, runs):
    times = {name: [] for name in argvs}
    for _ in range(runs):
        for name, argv in argvs.items():
            times[name].append(timed(argv))
    return {name: sorted(t)[len(t) // 2] for name, t in times.items()}


def report(path):
    line = json.loads(Path(path).read_text().splitlines()[0])
    return line.get("quality_search") or {}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tavrel", default=str(Path(__file__).resolve().parent.parent / "build" /
                                               "tavrel"))
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    source = make_input()
    with tempfile.TemporaryDirectory() as folder:
        out = Path(folder)
        print("| codec | plain s | tiff s | one encode s | //max-bytes s | encodes | trials |"
              " q | //target-quality 0.95 s | encodes | trials | q |")
        print("|---|---|---|---|---|---|---|---|---|---|---|---|")
        for codec in CODECS:
            base = [args.tavrel, "/w", "1500", "/h", "1000"]
            plain = base + ["/q", "75", "/c", codec, "/o", str(out / f"p.{codec}"), str(source)]
            subprocess.run(plain, check=True)
            budget = int(os.path.getsize(out / f"p.{codec}") * 0.8)
            argvs = {
                "plain": plain,
                "tiff": base + ["/c", "tif", "/o", str(out / "t.tif"), str(source)],
                "bytes": base + ["//max-bytes", str(budget), "//report", str(out / "b.json"),
                                 "/c", codec, "/o", str(out / f"b.{codec}"), str(source)],
                "score": base + ["//target-quality", "0.95", "//report", str(out / "s.json"),
                                 "/c", codec, "/o", str(out / f"s.{codec}"), str(source)],
            }
            t = run_rounds(argvs, args.runs)
            encode = t["plain"][0] - t["tiff"][0]
            b, s = report(out / "b.json"), report(out / "s.json")
            print(f"| {codec} | {t['plain'][0]:.3f} | {t['tiff'][0]:.3f} | {encode:.3f} | "
                  f"{t['bytes'][0]:.3f} | {(t['bytes'][0] - t['tiff'][0]) / encode:.2f} | "
                  f"{b.get('trials')} | {b.get('quality')} | {t['score'][0]:.3f} | "
                  f"{(t['score'][0] - t['tiff'][0]) / encode:.2f} | {s.get('trials')} | "
                  f"{s.get('quality')} |", flush=True)


if __name__ == "__main__":
    main()
