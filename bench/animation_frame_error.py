#!/usr/bin/python3
"""How close each resized animation's frames are to the frames it should
show, and what it costs: tavrel //animated against ImageMagick's
`-coalesce -resize ... -layers Optimize` and gifsicle's `--resize-width ... -O3`.

The source (--source FILE, or a 12-frame 320x240 GIF made here with
ImageMagick: a gradient that moves under a transparent sticker-like shape
that moves and turns, with frames of disposal 1 and 2) is coalesced by
ImageMagick and each frame resized with Pillow's LANCZOS in floating point:
that is the reference. Every output is coalesced the same way; the error is
the mean absolute difference per channel of the frames composited over
mid-grey (so that colours under transparent pixels do not count), 0-255.
Needs ImageMagick, gifsicle and python3-pil (scripts/install-deps.sh bench).
"""

import argparse
import statistics
import subprocess
import tempfile
import time
from pathlib import Path

from PIL import Image

REPO = Path(__file__).resolve().parent.parent


def make_source(path):
    frames = []
    for i in range(12):
        frames += [
            "(", "-size", "320x240", "gradient:#%02x2040-#20%02xc0" % (40 + i * 16, 200 - i * 12),
            "-fill", "none", "-stroke", "yellow", "-strokewidth", "6",
            "-draw", "circle %d,120 %d,150" % (60 + i * 18, 60 + i * 18),
            "-fill", "#e03030", "-stroke", "none",
            "-draw", "rectangle %d,20 %d,70" % (200 - i * 10, 260 - i * 10),
            "-region", "120x240+%d+0" % (200 - i * 8), "-alpha", "set", "-channel", "A", "-evaluate", "set", "0",
            "+channel", "+region", ")"
        ]
    subprocess.run(["convert", "-delay", "8", "-loop", "0", "-dispose", "background"] + frames +
                   [str(path)], check=True)


def coalesced(path, folder, prefix):
    subprocess.run(["convert", str(path), "-coalesce", str(folder / (prefix + "-%03d.png"))],
                   check=True)
    return [Image.open(p).convert("RGBA") for p in sorted(folder.glob(prefix + "-*.png"))]


def over_grey(frame):
    grey = Image.new("RGBA", frame.size, (128, 128, 128, 255))
    return Image.alpha_composite(grey, frame).convert("RGB")


def error(frames, references):
    if len(frames) != len(references):
        return float("nan")
    total = count = 0
    for a, b in zip(frames, references):
        if a.size != b.size:
            return float("nan")
        pa, pb = over_grey(a).tobytes(), over_grey(b).tobytes()
        total += sum(abs(x - y) for x, y in zip(pa, pb))
        count += len(pa)
    return total / count


def stills(full, folder, resize):
    """Each coalesced source frame resized as a still by `resize`."""
    out = []
    for i, frame in enumerate(full):
        source, resized = folder / ("still-in-%03d.png" % i), folder / ("still-out-%03d.png" % i)
        frame.save(source)
        subprocess.run(resize(source, resized), check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        out.append(Image.open(resized).convert("RGBA"))
    return out


def timed(command, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", type=Path)
    parser.add_argument("--width", type=int, default=160)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--tavrel", type=Path, default=REPO / "build" / "tavrel")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as scratch:
        scratch = Path(scratch)
        source = args.source
        if source is None:
            source = scratch / "source.gif"
            make_source(source)
        full = coalesced(source, scratch, "source")
        w = str(args.width)
        tavrel_still = lambda i, o: [str(args.tavrel), "/w", w, "/b", "32", "/c", "png", "/o",
                                     str(o), str(i)]
        magick_still = lambda i, o: ["convert", str(i), "-resize", w + "x", str(o)]
        outputs = {
            "tavrel //animated": (scratch / "tavrel.gif",
                                  [str(args.tavrel), "//animated", "/w", w, "/b", "32", "/c", "gif",
                                   "/o", str(scratch / "tavrel.gif"), str(source)], tavrel_still),
            "ImageMagick": (scratch / "magick.gif",
                            ["convert", str(source), "-coalesce", "-resize", w + "x",
                             "-layers", "Optimize", str(scratch / "magick.gif")], magick_still),
            "gifsicle -O3": (scratch / "gifsicle.gif",
                             ["gifsicle", "--resize-width", w, "-O3", str(source), "-o",
                              str(scratch / "gifsicle.gif")], None),
        }
        print("source: %s, %d frames of %dx%d, %d bytes" %
              (source.name, len(full), full[0].width, full[0].height, source.stat().st_size))
        print("%-20s %8s %8s %6s %14s %14s" %
              ("", "seconds", "bytes", "frames", "error vs still", "error vs PIL"))
        for name, (out, command, still) in outputs.items():
            seconds = timed(command, args.runs)
            frames = coalesced(out, scratch, out.stem)
            size = frames[0].size
            own = error(frames, stills(full, scratch, still)) if still else float("nan")
            pillow = error(frames, [f.resize(size, Image.LANCZOS) for f in full])
            print("%-20s %8.3f %8d %6d %14.2f %14.2f" %
                  (name, seconds, out.stat().st_size, len(frames), own, pillow))


if __name__ == "__main__":
    main()
