#!/usr/bin/python3
"""A GIF that holds a core for a long time, stopped by //timeout.

Makes an animated GIF of SIDE x SIDE frames, each covering the whole canvas
in a colour of its own (one frame's image data, LZW-coded once, under a
different local colour table each time), so that every frame is decoded
and resized whole. Runs tavrel on it with //animated and no timeout, then
with //timeout T, and shows the wall time, the peak RSS, the exit status
and whether an output or a temporary was left. Standard library only.

    python3 bench/timeout_gif.py [--tavrel build/tavrel] [--side 4000]
                                 [--frames 40] [--timeout 2]
"""

import argparse
import os
import struct
import subprocess
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent


def lzw_constant(pixels, min_code_size=2):
    """LZW codes, packed as GIF packs them, for `pixels` indices of 0: the
    table grows until full, then a clear code starts it again."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    out, acc, bits = bytearray(), 0, 0
    width, next_code, run_of = min_code_size + 1, end + 1, {}

    def emit(code):
        nonlocal acc, bits
        acc |= code << bits
        bits += width
        while bits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            bits -= 8

    emit(clear)
    # With one symbol, the table's entries are runs of 0s: entry for length n.
    longest, code_of = 1, {1: 0}
    left = pixels
    while left > 0:
        n = min(longest, left)
        while n not in code_of:
            n -= 1
        emit(code_of[n])
        left -= n
        if left > 0:
            if next_code < 4095:
                code_of[n + 1] = next_code
                longest = max(longest, n + 1)
                next_code += 1
                if next_code > (1 << width) and width < 12:
                    width += 1
            else:
                emit(clear)
                width, next_code, longest, code_of = min_code_size + 1, end + 1, 1, {1: 0}
    emit(end)
    if bits:
        out.append(acc & 0xFF)
    return bytes(out)


def sub_blocks(data):
    out = bytearray()
    for at in range(0, len(data), 255):
        piece = data[at:at + 255]
        out.append(len(piece))
        out += piece
    return bytes(out + b"\0")


def make_gif(path, side, frames):
    data = sub_blocks(lzw_constant(side * side))
    out = bytearray(b"GIF89a" + struct.pack("<HHBBB", side, side, 0, 0, 0))
    out += b"!\xff\x0bNETSCAPE2.0\x03\x01\0\0\0"
    for i in range(frames):
        colour = bytes(((i * 53) % 256, (i * 97) % 256, (i * 193) % 256))
        out += b"!\xf9\x04\x04\x0a\0\0\0"  # 100 ms, disposal: leave
        out += b"," + struct.pack("<HHHHB", 0, 0, side, side, 0x80)  # local table, 2 colours
        out += colour + b"\0\0\0"
        out += b"\x02" + data
    out += b";"
    Path(path).write_bytes(bytes(out))


def run(tavrel, args):
    start = time.perf_counter()
    child = subprocess.Popen([tavrel, *args], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(child.pid, 0)
    err = child.stderr.read().decode(errors="replace").strip()
    child.stderr.close()
    return (os.waitstatus_to_exitcode(status), time.perf_counter() - start,
            usage.ru_maxrss / 1024, err)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tavrel", default=str(REPO / "build" / "tavrel"))
    parser.add_argument("--side", type=int, default=4000)
    parser.add_argument("--frames", type=int, default=40)
    parser.add_argument("--timeout", type=float, default=2)
    opts = parser.parse_args()
    with tempfile.TemporaryDirectory() as scratch:
        gif = os.path.join(scratch, "long.gif")
        make_gif(gif, opts.side, opts.frames)
        print(f"{opts.frames} frames of {opts.side}x{opts.side}, {os.path.getsize(gif)} bytes")
        print("| run | status | wall | peak RSS | left behind |")
        print("|---|---:|---:|---:|---|")
        for title, extra in (("no timeout", []), (f"//timeout {opts.timeout:g}",
                                                  ["//timeout", f"{opts.timeout:g}"])):
            outdir = os.path.join(scratch, "out")
            os.mkdir(outdir)
            status, wall, mib, err = run(opts.tavrel, ["//animated", "/w", "400", "/c", "webp",
                                                       *extra, "/o", outdir + "/out.webp", gif])
            left = ", ".join(sorted(os.listdir(outdir))) or "nothing"
            print(f"| {title} | {status} | {wall:.2f} s | {mib:.1f} MiB | {left} |"
                  + (f" `{err.replace(gif, 'long.gif')}`" if err else ""))
            subprocess.run(["rm", "-rf", outdir], check=True)


if __name__ == "__main__":
    main()
