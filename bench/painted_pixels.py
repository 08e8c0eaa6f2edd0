#!/usr/bin/python3
"""Work that follows what an animation paints: "tavrel //animated" on a GIF
of 20,000 one-pixel frames on a 4096x4096 screen (about 460 KB), made once
in bench/.inputs/ (LZW written here).

Each frame paints one pixel at a random place (seeded: the same file every
time) and leaves it in place, so a run that resized every canvas whole
would resize 20,000 x 16.8 megapixels. Runs `tavrel //animated /w WIDTH`
(into GIF by default; --frames for a shorter file) a few times and prints the median wall time, the
peak resident set and the output's size. Standard library only.
"""

import argparse
import os
import random
import statistics
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
SIDE, FRAMES = 4096, 20000


def one_pixel_frame(x, y, index):
    """A 1x1 image at (x, y) of colour `index` (of 4), left in place, 20 ms."""
    control = b"!\xf9\x04" + struct.pack("<BHB", 1 << 2, 2, 0) + b"\0"
    descriptor = b"," + struct.pack("<HHHHB", x, y, 1, 1, 0)
    # LZW with 2-bit colours: clear (4), the index and end (5), 3 bits each.
    bits = 4 | index << 3 | 5 << 6
    data = bytes([bits & 255, bits >> 8])
    return control + descriptor + b"\x02" + bytes([len(data)]) + data + b"\0"


def ensure_gif(inputs, frames):
    out = inputs / f"painted-{frames}x1px-{SIDE}.gif"
    if out.exists():
        return out
    inputs.mkdir(parents=True, exist_ok=True)
    rng = random.Random(15)
    palette = bytes([230, 40, 40, 40, 200, 60, 30, 60, 220, 250, 250, 250])
    screen = b"GIF89a" + struct.pack("<HHBBB", SIDE, SIDE, 0xF1, 0, 0) + palette
    loop = b"!\xff\x0bNETSCAPE2.0\x03\x01\0\0\0"  # for ever
    body = b"".join(one_pixel_frame(rng.randrange(SIDE), rng.randrange(SIDE), rng.randrange(4))
                    for _ in range(frames))
    out.write_bytes(screen + loop + body + b";")
    return out


def run_once(argv):
    start = time.monotonic()
    pid = os.spawnv(os.P_NOWAIT, argv[0], argv)
    _, status, usage = os.wait4(pid, 0)
    if status != 0:
        sys.exit(f"{' '.join(argv)}: status {status}")
    return time.monotonic() - start, usage.ru_maxrss  # KiB on Linux


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tavrel", default=str(REPO / "build" / "tavrel"))
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--width", type=int, default=256)
    parser.add_argument("--codec", default="gif", choices=["gif", "webp"])
    parser.add_argument("--frames", type=int, default=FRAMES)
    args = parser.parse_args()
    source = ensure_gif(REPO / "bench" / ".inputs", args.frames)
    with tempfile.TemporaryDirectory() as tmp:
        out = Path(tmp) / f"out.{args.codec}"
        argv = [args.tavrel, "//animated", "/w", str(args.width), "/c", args.codec, "/o",
                str(out), str(source)]
        results = [run_once(argv) for _ in range(args.runs)]
        out_bytes = out.stat().st_size
    wall = statistics.median(r[0] for r in results)
    peak = max(r[1] for r in results)
    print(f"{source.name}: {source.stat().st_size} bytes -> {args.width} wide {args.codec}, "
          f"{out_bytes} bytes")
    print(f"median {wall:.2f} s over {args.runs} runs, peak RSS {peak / 1024:.1f} MiB")


if __name__ == "__main__":
    main()
