#!/usr/bin/python3
"""The worker against one process per file, and the worker's memory.

Makes 2,000 JPEGs of about 1 MP (20 sizes around 1152x864 from the sample
photo, each copied 100 times under its own name), then turns each into a
256-pixel-wide JPEG two ways, each with two at a time on this machine:
one tavrel process per file (xargs -P 2), and one "tavrel //serve //jobs 2"
fed the jobs through a pipe. It reports both wall times, their ratio and
whether every output is byte for byte the same. Then it runs 10,000 jobs
through one worker and reads its resident set (VmRSS) after the first 100
and after all of them. Standard library only; results in bench/RESULTS.md.

  bench/serve.py [--tavrel build/tavrel] [--files 2000] [--jobs 10000]
"""

import argparse
import filecmp
import os
import shlex
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
SAMPLE = REPO / "samples" / "photo.jpg"


def make_inputs(tavrel, folder, count):
    sizes = [(1152 + 8 * i, 864 + 6 * i) for i in range(20)]
    sources = []
    for i, (w, h) in enumerate(sizes):
        source = folder / f"source{i}.jpg"
        subprocess.run([tavrel, "/w", str(w), "/h", str(h), "/q", "90", "/o", str(source),
                        str(SAMPLE)], check=True)
        sources.append(source.read_bytes())
    inputs = []
    for n in range(count):
        path = folder / "in" / f"p{n:05}.jpg"
        path.write_bytes(sources[n % len(sources)])
        inputs.append(path)
    return inputs


def job_words(path, out):
    return ["/w", "256", "/o", str(out / path.name), str(path)]


def per_process(tavrel, inputs, out):
    listing = "".join(shlex.join(job_words(p, out)) + "\n" for p in inputs)
    start = time.monotonic()
    subprocess.run(["xargs", "-P", "2", "-L", "1", tavrel], input=listing.encode(), check=True)
    return time.monotonic() - start


def serve(tavrel, inputs, out):
    script = "".join(shlex.join(job_words(p, out)) + "\n" for p in inputs)
    start = time.monotonic()
    run = subprocess.run([tavrel, "//serve", "//jobs", "2"], input=script.encode(),
                         capture_output=True, check=True)
    seconds = time.monotonic() - start
    failed = [line for line in run.stdout.decode().splitlines() if '"status":"ok"' not in line]
    if failed or len(run.stdout.splitlines()) != len(inputs):
        sys.exit(f"the worker failed jobs: {failed[:3]}")
    return seconds


def rss_kib(pid):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


def memory(tavrel, inputs, out, jobs):
    """VmRSS after 100 jobs and after all of them, the worker idle each time."""
    worker = subprocess.Popen([tavrel, "//serve", "//jobs", "2"], stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE)
    done = 0
    readings = {}

    def run(count):
        nonlocal done
        for n in range(done, done + count):
            line = shlex.join(job_words(inputs[n % len(inputs)], out)) + "\n"
            worker.stdin.write(line.encode())
        worker.stdin.flush()
        for _ in range(count):
            if b'"status":"ok"' not in worker.stdout.readline():
                sys.exit("a job failed")
        done += count

    run(100)
    readings[100] = rss_kib(worker.pid)
    peak = readings[100]
    while done < jobs:
        run(min(1000, jobs - done))
        peak = max(peak, rss_kib(worker.pid))
    readings[jobs] = rss_kib(worker.pid)
    worker.stdin.close()
    worker.wait()
    return readings, peak


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tavrel", default=str(REPO / "build" / "tavrel"))
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--jobs", type=int, default=10000)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as scratch:
        folder = Path(scratch)
        for name in ("in", "per", "served", "memory"):
            (folder / name).mkdir()
        inputs = make_inputs(args.tavrel, folder, args.files)
        per = per_process(args.tavrel, inputs, folder / "per")
        served = serve(args.tavrel, inputs, folder / "served")
        same = all(filecmp.cmp(folder / "per" / p.name, folder / "served" / p.name, shallow=False)
                   for p in inputs)
        print(f"{args.files} JPEGs of about 1 MP to 256 px wide, two at a time")
        print(f"one process per file: {per:.2f} s ({args.files / per:.1f} files/s)")
        print(f"//serve //jobs 2:     {served:.2f} s ({args.files / served:.1f} files/s)")
        print(f"throughput ratio:     {per / served:.2f}x")
        print(f"same bytes:           {'yes' if same else 'NO'}")
        readings, peak = memory(args.tavrel, inputs, folder / "memory", args.jobs)
        first, last = readings[100], readings[args.jobs]
        print(f"VmRSS after 100 jobs: {first} KiB; after {args.jobs}: {last} KiB "
              f"({100.0 * (last - first) / first:+.1f} %); highest reading {peak} KiB")


if __name__ == "__main__":
    main()
