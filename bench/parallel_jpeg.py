#!/usr/bin/python3
"""JPEG decoded on two cores (in bands, or with the entropy stage): wall and
CPU time and peak memory against a binary before the change and against the
djpeg + cjpeg floor.

    bench/parallel_jpeg.py --before OLD/tavrel [--tavrel build/tavrel] [--runs 7]

Inputs (made in bench/.inputs/ once, from samples/photo.jpg): J1, the
6000x4000 q90 4:2:0 photo of shrink_on_load.py, as it is (no restart
markers) and with a restart marker every row of MCUs (jpegtran -restart 1);
P12, a 4032x3024 q92 4:2:0 photo, as it is and with a marker every row, as
phones write. Work: J1 -> 1500x1000 q75, P12 -> 256 wide q75; each on both
cores and under taskset -c 0. The floor is djpeg's decode piped into cjpeg
q75 (no resize), one core each. The two binaries alternate inside every
round; the median wall time, the minimum, the median round's CPU seconds
(user + system) and the largest peak resident memory are printed.
"""
import argparse
import os
import subprocess
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
INPUTS = REPO / "bench" / ".inputs"
SAMPLE = REPO / "samples" / "photo.jpg"


def made(name, argv):
    path = INPUTS / name
    if not path.exists():
        INPUTS.mkdir(exist_ok=True)
        subprocess.run([w.replace("OUT", str(path)) for w in argv], check=True)
    return path


def inputs():
    j1 = made("shrink-6000x4000.jpg",
              ["convert", str(SAMPLE), "-filter", "Catrom", "-resize", "6000x4000!",
               "-attenuate", "0.4", "+noise", "Gaussian", "-sampling-factor", "2x2",
               "-quality", "90", "OUT"])
    j1r = made("j1-restart.jpg", ["jpegtran", "-restart", "1", "-outfile", "OUT", str(j1)])
    p12 = made("p12-plain.jpg",
               ["convert", str(SAMPLE), "-filter", "Catrom", "-resize", "4032x3024!",
                "-attenuate", "0.3", "+noise", "Gaussian", "-sampling-factor", "2x2",
                "-quality", "92", "OUT"])
    p12r = made("p12-restart.jpg", ["jpegtran", "-restart", "1", "-outfile", "OUT", str(p12)])
    return j1, j1r, p12, p12r


def timed(argv, shell=False):
    start = time.perf_counter()
    child = subprocess.Popen(argv, stdout=subprocess.DEVNULL, shell=shell)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    if status != 0:
        raise SystemExit(f"{argv} failed")
    # A shell's usage is its own and its children's; its peak is the largest one's.
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tavrel", default=str(REPO / "build" / "tavrel"))
    parser.add_argument("--before", required=True)
    parser.add_argument("--runs", type=int, default=7)
    args = parser.parse_args()
    j1, j1r, p12, p12r = inputs()
    out = Path(tempfile.mkdtemp())
    work = [("J1", j1, ["/w", "1500", "/h", "1000"]),
            ("J1 restart", j1r, ["/w", "1500", "/h", "1000"]),
            ("P12", p12, ["/w", "256"]),
            ("P12 restart", p12r, ["/w", "256"])]
    print("| work | run | median s | min s | CPU s | peak MB |")
    print("|---|---|---:|---:|---:|---:|")
    for name, source, size in work:
        argvs = {}
        for cores in ("2 cores", "taskset -c 0"):
            pin = ["taskset", "-c", "0"] if cores != "2 cores" else []
            for label, binary in (("before", args.before), ("after", args.tavrel)):
                argvs[f"{label}, {cores}"] = (pin + [binary, *size, "/q", "75", "/o",
                                                     str(out / "o.jpg"), str(source)], False)
        argvs["djpeg | cjpeg floor"] = (
            f"djpeg {source} | cjpeg -quality 75 > {out / 'floor.jpg'}", True)
        times = {k: [] for k in argvs}
        for _ in range(args.runs + 1):  # the first round warms the caches
            for k, (argv, shell) in argvs.items():
                times[k].append(timed(argv, shell))
        for k, rounds in times.items():
            rounds = sorted(rounds[1:])
            median = rounds[len(rounds) // 2]
            peak = max(r[2] for r in rounds)
            print(f"| {name} | {k} | {median[0]:.3f} | {rounds[0][0]:.3f} | {median[1]:.3f} "
                  f"| {peak:.0f} |")


if __name__ == "__main__":
    main()
