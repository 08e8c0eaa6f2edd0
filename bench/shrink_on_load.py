#!/usr/bin/python3
"""//shrink-on-load: time and quality against the full decode.

    bench/shrink_on_load.py [--tavrel build/tavrel] [--runs 7] [PHOTO.jpg ...]

Speed: T1 (24 MP JPEG -> 600x400) and T2 (-> 150x100), JPEG q75, each
with and without the option and vipsthumbnail (which shrinks on load by
itself), alternating inside each round; the median and minimum wall time
and the CPU seconds (user + system) of the median round. The 24 MP input
is the sample photo upscaled by ImageMagick with noise added, saved q90
4:2:0 in bench/.inputs/ once.

Many files: 120 JPEGs of 1600x1200 (bench/many_images.sh makes them) to
256 wide, q75: one tavrel //each run, with and without the option, against
a warm sharp (bench/sharp_batch.js: one node process, started and warmed
before the rounds, two files at a time, timed from its first file to its
last), in the same rounds; sharp both as it comes (its shrink-on-load
decodes at 1/4 here) and with fastShrinkOnLoad false (at 1/2, the margin
of twice the output's size that tavrel's rule keeps). Skipped when bench/.sharp/node_modules has no
sharp (npm install --prefix bench/.sharp sharp; not committed).

Quality: each photo (the 24 MP input and the ones named) reduced 4, 8 and
16 times on each side (so decoded at 1/2, 1/4 and 1/8) into 8-bit PNG, with
and without the option; the mean and largest absolute difference of the
samples, and the SSIM of the two lumas (8x8 windows, the usual constants,
computed here: Debian's ImageMagick 6 has no SSIM metric). Needs only
python3 and ImageMagick's convert.
"""
import argparse
import os
import resource
import statistics
import subprocess
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
INPUTS = REPO / "bench" / ".inputs"
SAMPLE = REPO / "samples" / "photo.jpg"


def make_input():
    path = INPUTS / "shrink-6000x4000.jpg"
    if not path.exists():
        INPUTS.mkdir(exist_ok=True)
        subprocess.run(["convert", str(SAMPLE), "-filter", "Catrom", "-resize", "6000x4000!",
                        "-attenuate", "0.4", "+noise", "Gaussian", "-sampling-factor", "2x2",
                        "-quality", "90", str(path)], check=True)
    return path


def timed(argv):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def rows(name, times):
    """Table rows of each way's rounds (the first, a warm-up, left out), and
    the median walls by way."""
    medians = {}
    for way, rounds in times.items():
        rounds = sorted(rounds[1:])
        median = rounds[len(rounds) // 2]
        medians[way] = median[0]
        print(f"| {name} | {way} | {median[0]:.3f} | {rounds[0][0]:.3f} | {median[1]:.3f} |")
    return medians


def speed(tavrel, source, runs, out):
    print("| item | way | median s | min s | CPU s |")
    print("|---|---|---|---|---|")
    for name, w, h in (("T1", 600, 400), ("T2", 150, 100)):
        target = str(out / f"{name}.jpg")
        argvs = {f"tavrel {opt}".strip(): [tavrel, *([opt] if opt else []), "/w", str(w), "/h",
                                           str(h), "/q", "75", "/o", target, str(source)]
                 for opt in ("", "//shrink-on-load")}
        argvs["vipsthumbnail"] = ["vipsthumbnail", str(source), "--size", f"{w}x{h}!", "-o",
                                  f"{target}[Q=75]"]
        times = {way: [] for way in argvs}
        for _ in range(runs + 1):  # the first round warms the caches
            for way, argv in argvs.items():
                times[way].append(timed(argv))
        medians = rows(name, times)
        print(f"| {name} | vipsthumbnail / tavrel //shrink-on-load | "
              f"{medians['vipsthumbnail'] / medians['tavrel //shrink-on-load']:.2f}x | | |")


def many_inputs(tavrel):
    """bench/many_images.sh's 120 inputs, made the way it makes them."""
    folder = INPUTS / "many-1600x1200"
    if not (folder / "photo-119.jpg").exists():
        folder.mkdir(parents=True, exist_ok=True)
        with tempfile.TemporaryDirectory() as tmp:
            big = Path(tmp) / "big.png"
            subprocess.run([tavrel, "/w", "1600", "/h", "1200", "/q", "95", "/o", str(big),
                            "/c", "png", str(SAMPLE)], check=True)
            for i in range(120):
                subprocess.run([tavrel, "/w", "1600", "/h", "1200", "/q", str(60 + i % 36),
                                "/r", str((i // 36) * 180), "/o", str(folder / f"photo-{i}.jpg"),
                                str(big)], check=True)
    return sorted(str(p) for p in folder.glob("photo-*.jpg"))


def many(tavrel, runs, out):
    sharp = REPO / "bench" / ".sharp" / "node_modules" / "sharp"
    if not sharp.exists():
        print("(no sharp in bench/.sharp: the many-file rows are skipped)")
        return
    files = many_inputs(tavrel)
    nodes = {margin: subprocess.Popen(["node", str(REPO / "bench" / "sharp_batch.js"), "256",
                                       "75", margin],
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
             for margin in ("fast", "2x")}
    sharps = {"warm sharp": "fast", "warm sharp, fastShrinkOnLoad false": "2x"}

    def warm_sharp(margin):
        folder = out / f"sharp-{margin}"
        folder.mkdir(exist_ok=True)
        nodes[margin].stdin.write(" ".join([str(folder), *files]) + "\n")
        nodes[margin].stdin.flush()
        wall, cpu = nodes[margin].stdout.readline().split()
        return float(wall), float(cpu)

    argvs = {f"tavrel //each {opt}".strip(): [tavrel, "//each", *([opt] if opt else []), "/w",
                                              "256", "/q", "75", "/o", str(out / "{name}.jpg"),
                                              *files]
             for opt in ("", "//shrink-on-load")}
    times = {way: [] for way in [*argvs, *sharps]}
    for margin in nodes:
        warm_sharp(margin)  # the process's first batch loads its libraries
    for _ in range(runs + 1):
        for way, argv in argvs.items():
            times[way].append(timed(argv))
        for way, margin in sharps.items():
            times[way].append(warm_sharp(margin))
    for node in nodes.values():
        node.stdin.close()
        node.wait()
    print("| item | way | median s | min s | CPU s |")
    print("|---|---|---|---|---|")
    medians = rows("120 x 1600x1200 -> 256", times)
    for way in sharps:
        print(f"| 120 x 1600x1200 -> 256 | {way} / tavrel //each //shrink-on-load | "
              f"{medians[way] / medians['tavrel //each //shrink-on-load']:.2f}x | | |")


def raw(png, colourspace):
    return subprocess.run(["convert", str(png), "-depth", "8", "-colorspace", colourspace,
                           f"{'gray' if colourspace == 'Gray' else 'rgb'}:-"],
                          check=True, stdout=subprocess.PIPE).stdout


def ssim(a, b, width, height):
    c1, c2 = (0.01 * 255) ** 2, (0.03 * 255) ** 2
    values = []
    for y0 in range(0, height - 7, 4):
        for x0 in range(0, width - 7, 4):
            xs = [a[(y0 + y) * width + x0 + x] for y in range(8) for x in range(8)]
            ys = [b[(y0 + y) * width + x0 + x] for y in range(8) for x in range(8)]
            mx, my = sum(xs) / 64, sum(ys) / 64
            vx = sum((v - mx) ** 2 for v in xs) / 63
            vy = sum((v - my) ** 2 for v in ys) / 63
            cov = sum((p - mx) * (q - my) for p, q in zip(xs, ys)) / 63
            values.append((2 * mx * my + c1) * (2 * cov + c2) /
                          ((mx * mx + my * my + c1) * (vx + vy + c2)))
    return sum(values) / len(values) if values else 1.0


def size_of(path):
    out = subprocess.run(["identify", "-format", "%w %h", str(path)], check=True,
                         stdout=subprocess.PIPE, text=True).stdout
    return tuple(int(v) for v in out.split())


def quality(tavrel, photos, out):
    print("| photo | reduced | scale | mean | worst | SSIM |")
    print("|---|---|---|---|---|---|")
    for photo in photos:
        width, height = size_of(photo)
        for reduction in (4, 8, 16):
            w, h = max(1, width // reduction), max(1, height // reduction)
            pngs = {}
            for opt in ("", "//shrink-on-load"):
                pngs[opt] = out / f"q{opt != ''}.png"
                subprocess.run([tavrel, *([opt] if opt else []), "/w", str(w), "/h", str(h),
                                "/c", "png", "/o", str(pngs[opt]), str(photo)], check=True)
            report = subprocess.run([tavrel, "//shrink-on-load", "/w", str(w), "/h", str(h),
                                     "/c", "png", "//report", "-", "/o", str(out / "r.png"),
                                     str(photo)], check=True, stdout=subprocess.PIPE,
                                    text=True).stdout
            scale = report.split('"decode_scale":')[1].split(",")[0]
            a, b = raw(pngs[""], "sRGB"), raw(pngs["//shrink-on-load"], "sRGB")
            diffs = [abs(p - q) for p, q in zip(a, b)]
            luma = ssim(raw(pngs[""], "Gray"), raw(pngs["//shrink-on-load"], "Gray"), w, h)
            print(f"| {Path(photo).name} ({width}x{height}) | {reduction}x | {scale} | "
                  f"{sum(diffs) / len(diffs):.3f} | {max(diffs)} | {luma:.4f} |")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tavrel", default=str(REPO / "build" / "tavrel"))
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--skip-speed", action="store_true")
    parser.add_argument("--skip-quality", action="store_true")
    parser.add_argument("photos", nargs="*")
    args = parser.parse_args()
    source = make_input()
    with tempfile.TemporaryDirectory() as tmp:
        out = Path(tmp)
        if not args.skip_speed:
            speed(args.tavrel, source, args.runs, out)
            print()
            many(args.tavrel, args.runs, out)
            print()
        if not args.skip_quality:
            quality(args.tavrel, [source, *args.photos], out)


if __name__ == "__main__":
    main()
