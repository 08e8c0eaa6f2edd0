#!/usr/bin/python3
"""//max-bytes and //target-quality: what the search costs in encodes.

    bench/quality_goal.py [--tavrel build/tavrel] [--runs 5]

For each lossy codec, the 24 MP sample (bench/.inputs/shrink-6000x4000.jpg,
made as bench/shrink_on_load.py makes it) resized to 1500x1000 and:
  plain   /q 75
  tiff    the same resize written as TIFF: the run without a lossy encode
  bytes   //max-bytes at 80 % of the plain file's size
  score   //target-quality 0.95
each written to the standard output (here /dev/null, so that no disk
write counts), alternating inside each round; the median round by wall
time. One encode is plain - tiff; the search's cost in encodes is
(bytes - tiff) / (plain - tiff), and likewise for score (whose trials also
decode and compare), in wall time and in CPU seconds (user + system: what
two trials side by side cost together). Trials and the quality chosen come
from the //report line.

It also leaves the resized picture in bench/.inputs/goal-1500x1000.png for
bench_quality_goal (a build with -DTAVREL_BENCH=ON), which times the search
against one encode in process, without the reading and resizing:
    QUALITY_GOAL_PICTURE=bench/.inputs/goal-1500x1000.png build/bench_quality_goal
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


def encodes(t, name, i):
    return (t[name][i] - t["tiff"][i]) / (t["plain"][i] - t["tiff"][i])


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
    picture = source.parent / "goal-1500x1000.png"
    if not picture.exists():
        subprocess.run([args.tavrel, "/w", "1500", "/h", "1000", "/c", "png", "/o", str(picture),
                        str(source)], check=True)
    with tempfile.TemporaryDirectory() as folder:
        out = Path(folder)
        print("| codec | plain s (CPU) | tiff s (CPU) | //max-bytes s (CPU) | encodes wall, CPU |"
              " trials | q | //target-quality 0.95 s (CPU) | encodes wall, CPU | trials | q |")
        print("|---|---|---|---|---|---|---|---|---|---|---|")
        for codec in CODECS:
            base = [args.tavrel, "/w", "1500", "/h", "1000"]
            first = base + ["/q", "75", "/c", codec, "/o", str(out / f"p.{codec}"), str(source)]
            subprocess.run(first, check=True)
            budget = int(os.path.getsize(out / f"p.{codec}") * 0.8)
            argvs = {
                "plain": base + ["/q", "75", "/c", codec, "/o", "-", str(source)],
                "tiff": base + ["/c", "tif", "/o", "-", str(source)],
                "bytes": base + ["//max-bytes", str(budget), "//report", str(out / "b.json"),
                                 "/c", codec, "/o", "-", str(source)],
                "score": base + ["//target-quality", "0.95", "//report", str(out / "s.json"),
                                 "/c", codec, "/o", "-", str(source)],
            }
            t = run_rounds(argvs, args.runs)
            b, s = report(out / "b.json"), report(out / "s.json")

            def cell(name):
                return f"{t[name][0]:.3f} ({t[name][1]:.3f})"

            print(f"| {codec} | {cell('plain')} | {cell('tiff')} | {cell('bytes')} | "
                  f"{encodes(t, 'bytes', 0):.2f}, {encodes(t, 'bytes', 1):.2f} | "
                  f"{b.get('trials')} | {b.get('quality')} | {cell('score')} | "
                  f"{encodes(t, 'score', 0):.2f}, {encodes(t, 'score', 1):.2f} | "
                  f"{s.get('trials')} | {s.get('quality')} |", flush=True)


if __name__ == "__main__":
    main()
