#!/usr/bin/python3
"""Peak memory of "//animated": one canvas, one resized frame and the
encoder's state at a time, whatever the number of frames.

Makes (once, in bench/.inputs/) an animated WebP of 150 frames of 1200x900,
lossy, whose content moves in every frame, with img2webp (Debian's `webp`
package), or takes --source FILE (an animated GIF, say); then runs
`tavrel //animated /w 600` into WebP a few times and prints the median wall
time, the peak resident set of the process and, for scale, what the
decoded frames would take held whole. Standard library only.
"""

import argparse
import os
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import zlib
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
WIDTH, HEIGHT, FRAMES, DISTINCT = 1200, 900, 150, 10


def write_png(path, width, height, shift):
    """An RGB gradient that moves by `shift`, with a band that moves down."""
    base = bytes(((x * 255) // width + shift * 7) & 255 for x in range(width * 2))
    rows = []
    for y in range(height):
        start = (y + shift * 13) % width
        reds = base[start:start + width]
        band = 255 if (y + shift * 40) % height < 60 else (y * 255) // height
        row = bytearray(width * 3)
        row[0::3] = reds
        row[1::3] = bytes([band]) * width
        row[2::3] = reds[::-1]
        rows.append(b"\0" + bytes(row))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    path.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                     chunk(b"IDAT", zlib.compress(b"".join(rows), 1)) + chunk(b"IEND", b""))


def ensure_source(inputs):
    out = inputs / f"animation-{FRAMES}x{WIDTH}x{HEIGHT}.webp"
    if out.exists():
        return out
    inputs.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        frames = []
        for i in range(DISTINCT):
            frame = Path(tmp) / f"f{i}.png"
            write_png(frame, WIDTH, HEIGHT, i)
            frames.append(str(frame))
        args = ["img2webp", "-loop", "0", "-lossy", "-q", "60", "-d", "80"]
        args += [frames[i % DISTINCT] for i in range(FRAMES)]
        subprocess.run(args + ["-o", str(out)], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
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
    parser.add_argument("--source", help="an animation to use instead of the generated one")
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    source = Path(args.source) if args.source else ensure_source(REPO / "bench" / ".inputs")
    with tempfile.TemporaryDirectory() as tmp:
        out = str(Path(tmp) / "out.webp")
        argv = [args.tavrel, "//animated", "/w", "600", "/c", "webp", "/o", out, str(source)]
        results = [run_once(argv) for _ in range(args.runs)]
        out_bytes = os.path.getsize(out)
    wall = statistics.median(r[0] for r in results)
    peak = max(r[1] for r in results)
    whole = WIDTH * HEIGHT * 4 * FRAMES / 2**20
    print(f"{source.name}: {os.path.getsize(source)} bytes -> 600 wide WebP, {out_bytes} bytes")
    print(f"median {wall:.2f} s over {args.runs} runs, peak RSS {peak / 1024:.1f} MiB "
          f"(the decoded frames held whole: {whole:.0f} MiB)")


if __name__ == "__main__":
    main()
