#!/usr/bin/python3
"""Animated GIF output: "tavrel //animated" against ImageMagick and gifsicle.

Makes (in a temporary folder) a 12-frame 320x240 animation: a static
gradient with a ball that moves and a bar that grows and shrinks, as
lossless WebP (img2webp) and as GIF (written by tavrel itself, no
resize). Then resizes it to 160 wide:
  tavrel //animated /w 160, from the WebP and from the GIF;
  convert in.gif -coalesce -resize 160x -layers Optimize out.gif;
  gifsicle --resize-width 160 -O3 in.gif -o out.gif;
and prints for each the median wall time, the output bytes and the frame
count (gifsicle --info). Standard library only.
"""

import argparse
import math
import re
import statistics
import struct
import subprocess
import tempfile
import time
import zlib
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
WIDTH, HEIGHT, FRAMES = 320, 240, 12


def write_png(path, i):
    cx = 40 + i * 20
    cy = 120 + int(60 * math.sin(i * 0.6))
    bar = 20 + 15 * (i % 6)
    rows = []
    for y in range(HEIGHT):
        row = bytearray()
        for x in range(WIDTH):
            r, g, b = (x * 255) // WIDTH, (y * 255) // HEIGHT, 128 + (x ^ y) % 64
            if (x - cx) ** 2 + (y - cy) ** 2 < 400:
                r, g, b = 230, 40, 40
            elif 200 <= y < 215 and x < bar * 3:
                r, g, b = 20, 20, 20
            row += bytes((r, g, b))
        rows.append(b"\0" + bytes(row))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 2, 0, 0, 0)
    path.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                     chunk(b"IDAT", zlib.compress(b"".join(rows), 6)) + chunk(b"IEND", b""))


def timed(argv, runs):
    times = []
    for _ in range(runs):
        start = time.monotonic()
        subprocess.run(argv, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append(time.monotonic() - start)
    return statistics.median(times)


def frames(gif):
    info = subprocess.run(["gifsicle", "--info", str(gif)], capture_output=True, text=True).stdout
    found = re.search(r"(\d+) images?", info)
    return int(found.group(1)) if found else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tavrel", default=str(REPO / "build" / "tavrel"))
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        pngs = []
        for i in range(FRAMES):
            pngs.append(tmp / f"f{i}.png")
            write_png(pngs[-1], i)
        webp, gif = tmp / "in.webp", tmp / "in.gif"
        img2webp = ["img2webp", "-loop", "0", "-lossless", "-d", "80"]
        subprocess.run(img2webp + [str(p) for p in pngs] + ["-o", str(webp)], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([args.tavrel, "//animated", "/w", str(WIDTH), "/c", "gif", "/o", str(gif),
                        str(webp)], check=True)
        print(f"source: {FRAMES} frames {WIDTH}x{HEIGHT}; GIF {gif.stat().st_size} bytes "
              f"({frames(gif)} frames, by tavrel), lossless WebP {webp.stat().st_size} bytes")
        runs = {
            "tavrel //animated, from WebP": [args.tavrel, "//animated", "/w", "160", "/c", "gif",
                                             "/o", str(tmp / "t1.gif"), str(webp)],
            "tavrel //animated, from GIF": [args.tavrel, "//animated", "/w", "160", "/c", "gif",
                                            "/o", str(tmp / "t2.gif"), str(gif)],
            "convert -coalesce -resize -layers Optimize": [
                "convert", str(gif), "-coalesce", "-resize", "160x", "-layers", "Optimize",
                str(tmp / "im.gif")],
            "gifsicle --resize-width 160 -O3": [
                "gifsicle", "--resize-width", "160", "-O3", str(gif), "-o", str(tmp / "gs.gif")],
        }
        outputs = ["t1.gif", "t2.gif", "im.gif", "gs.gif"]
        for (name, argv), out in zip(runs.items(), outputs):
            wall = timed(argv, args.runs)
            path = tmp / out
            print(f"{name:44s} {wall * 1000:7.1f} ms  {path.stat().st_size:7d} bytes  "
                  f"{frames(path):2d} frames")


if __name__ == "__main__":
    main()
