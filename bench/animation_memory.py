#!/usr/bin/python3
"""Peak memory of "//animated": one canvas, one resized frame and the
encoder's state at a time, whatever the number of frames.

Makes (once, in bench/.inputs/) an animated WebP of 150 frames of 1200x900,
lossy, whose content moves in every frame, with img2webp (Debian's `webp`
package), and an animated GIF of the same size (256 colours, LZW written
here), or takes --source FILE; then runs `tavrel //animated /w 600` into
WebP (or --codec gif) a few times on each and prints the median wall
time, the peak resident set of the process and, for scale, what the
decoded frames would take held whole. The source file is held whole while it is read, so its
size counts in the peak. Standard library only.
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


def lzw(indices, min_size=8):
    """GIF's variable-width LZW of a bytes of colour indices."""
    clear, end = 1 << min_size, (1 << min_size) + 1
    out = bytearray()
    bits = count = 0

    def put(code, width):
        nonlocal bits, count
        bits |= code << count
        count += width
        while count >= 8:
            out.append(bits & 255)
            bits >>= 8
            count -= 8

    table = {}
    width = min_size + 1
    next_code = end + 1
    put(clear, width)
    prefix = indices[0]
    for pixel in indices[1:]:
        key = (prefix, pixel)
        code = table.get(key)
        if code is not None:
            prefix = code
            continue
        put(prefix, width)
        if next_code < 4096:
            table[key] = next_code
            if next_code == 1 << width and width < 12:
                width += 1
            next_code += 1
        else:
            put(clear, width)
            table.clear()
            width = min_size + 1
            next_code = end + 1
        prefix = pixel
    put(prefix, width)
    put(end, width)
    if count:
        out.append(bits & 255)
    return bytes(out)


def gif_frame(width, height, shift):
    """The GIF counterpart of write_png's picture: a ramp that moves, and a band."""
    base = bytes(((x * 255) // width + shift * 7) & 255 for x in range(width * 2))
    rows = []
    for y in range(height):
        start = (y + shift * 13) % width
        if (y + shift * 40) % height < 60:
            rows.append(bytes([255 - (y & 15)]) * width)
        else:
            rows.append(base[start:start + width])
    data = lzw(b"".join(rows))
    blocks = b"".join(bytes([len(data[i:i + 255])]) + data[i:i + 255]
                      for i in range(0, len(data), 255))
    control = b"!\xf9\x04" + struct.pack("<BHB", 1 << 2, 8, 0) + b"\0"  # left in place, 80 ms
    descriptor = b"," + struct.pack("<HHHHB", 0, 0, width, height, 0)
    return control + descriptor + b"\x08" + blocks + b"\0"


def ensure_gif(inputs):
    out = inputs / f"animation-{FRAMES}x{WIDTH}x{HEIGHT}.gif"
    if out.exists():
        return out
    inputs.mkdir(parents=True, exist_ok=True)
    palette = b"".join(bytes([i, (i * 3) & 255, 255 - i]) for i in range(256))
    screen = b"GIF89a" + struct.pack("<HHBBB", WIDTH, HEIGHT, 0xF7, 0, 0) + palette
    loop = b"!\xff\x0bNETSCAPE2.0\x03\x01\0\0\0"  # for ever
    frames = [gif_frame(WIDTH, HEIGHT, i) for i in range(DISTINCT)]
    body = b"".join(frames[i % DISTINCT] for i in range(FRAMES))
    out.write_bytes(screen + loop + body + b";")
    return out


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


def measure(tavrel, source, runs, codec):
    with tempfile.TemporaryDirectory() as tmp:
        out = str(Path(tmp) / f"out.{codec}")
        argv = [tavrel, "//animated", "/w", "600", "/c", codec, "/o", out, str(source)]
        results = [run_once(argv) for _ in range(runs)]
        out_bytes = os.path.getsize(out)
    wall = statistics.median(r[0] for r in results)
    peak = max(r[1] for r in results)
    whole = WIDTH * HEIGHT * 4 * FRAMES / 2**20
    print(f"{source.name}: {os.path.getsize(source)} bytes -> 600 wide {codec}, {out_bytes} bytes")
    print(f"median {wall:.2f} s over {runs} runs, peak RSS {peak / 1024:.1f} MiB "
          f"(the decoded frames held whole: {whole:.0f} MiB)")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tavrel", default=str(REPO / "build" / "tavrel"))
    parser.add_argument("--source", help="an animation to use instead of the generated ones")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--codec", default="webp", choices=["webp", "gif"])
    args = parser.parse_args()
    inputs = REPO / "bench" / ".inputs"
    sources = [Path(args.source)] if args.source else [ensure_source(inputs), ensure_gif(inputs)]
    for source in sources:
        measure(args.tavrel, source, args.runs, args.codec)


if __name__ == "__main__":
    main()
