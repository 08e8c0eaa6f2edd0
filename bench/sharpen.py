#!/usr/bin/env python3
"""//sharpen against the peers' sharpness after a strong shrink, and its cost.

For each photo: a shrink to a quarter of its width by tavrel (without and
with //sharpen at several amounts), vipsthumbnail, sharp (when its module is
found under NODE_PATH) and ImageMagick 6 (-resize), all to PNG. For each
output, on its luma (Rec. 601):
  laplacian  the mean absolute 4-neighbour Laplacian: the sharpness;
  overshoot  the mean amount by which a pixel leaves the range of its 3 x 3
             neighbourhood in tavrel's unsharpened output (halos and
             ringing; 0 for that output itself);
  halo%      the share of pixels that leave it by more than 8 levels.
Then the time of J1 (a 6000x4000 JPEG q90 -> 1500x1000 JPEG q75) without
and with //sharpen, taken in turn: the best and the median of 15 runs, wall
and CPU.
Writes crops (nearest-neighbour x3) of the first three photos into
bench/sharpen/crops-N.png.

Usage: bench/sharpen.py TAVREL PHOTO...   (needs python3 and ImageMagick 6)
"""
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

IM6 = "/usr/bin/convert-im6.q16"
AMOUNTS = ["0.1", "0.12", "0.15", "0.2", "0.25", "0.5", "1"]
HERE = os.path.dirname(os.path.abspath(__file__))


def luma(path):
    """Width, height and the Rec. 601 luma of an image, read through PGM."""
    data = subprocess.run([IM6, path, "-colorspace", "RGB", "-set", "colorspace", "sRGB",
                           "-grayscale", "Rec601Luma", "-depth", "8", "pgm:-"],
                          check=True, capture_output=True).stdout
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[at + 1:at + 1 + width * height]


def laplacian(image):
    w, h, p = image
    total = 0
    for y in range(1, h - 1):
        row = y * w
        for x in range(1, w - 1):
            i = row + x
            total += abs(4 * p[i] - p[i - 1] - p[i + 1] - p[i - w] - p[i + w])
    return total / ((w - 2) * (h - 2))


def overshoot(image, reference):
    w, h, p = image
    rw, rh, r = reference
    assert (w, h) == (rw, rh)
    total, haloed = 0, 0
    for y in range(1, h - 1):
        for x in range(1, w - 1):
            near = [r[(y + dy) * w + x + dx] for dy in (-1, 0, 1) for dx in (-1, 0, 1)]
            v = p[y * w + x]
            out = max(0, v - max(near), min(near) - v)
            total += out
            haloed += out > 8
    n = (w - 2) * (h - 2)
    return total / n, 100.0 * haloed / n


def make_outputs(tavrel, photo, width, height, work):
    outs = {}
    def tav(name, extra):
        out = os.path.join(work, name.replace("/", "").replace(" ", "-") + ".png")
        subprocess.run([tavrel, "//fit", str(width), str(height), "/c", "png "] + extra +
                       [photo, "/o", out], check=True)
        outs[name] = out
    tav("tavrel", [])
    for amount in AMOUNTS:
        tav("tavrel //sharpen " + amount, ["//sharpen", amount])
    out = os.path.join(work, "vips.png")
    subprocess.run(["vipsthumbnail", photo, "-s", f"{width}x{height}", "-o", out], check=True)
    outs["vipsthumbnail"] = out
    out = os.path.join(work, "sharp.png")
    script = ("require('sharp')(process.argv[1])"
              ".resize({width: +process.argv[3], height: +process.argv[4], fit: 'inside'})"
              ".png().toFile(process.argv[2]).catch(e => process.exit(1))")
    if subprocess.run(["node", "-e", script, photo, out, str(width), str(height)]).returncode == 0:
        outs["sharp"] = out
    out = os.path.join(work, "im6.png")
    subprocess.run([IM6, photo, "-resize", f"{width}x{height}", out], check=True)
    outs["ImageMagick"] = out
    return outs


def crops(outs, names, width, height, target):
    side = min(96, width, height)
    left, top = (width - side) // 2, (height - side) // 2
    parts = []
    for name in names:
        parts += ["(", outs[name], "-crop", f"{side}x{side}+{left}+{top}", "+repage",
                  "-filter", "point", "-resize", "300%", ")"]
    subprocess.run([IM6] + parts + ["+append", target], check=True)


def cpu_children():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def timings(commands, runs):
    """Each command's wall and CPU times, the commands taken in turn so that
    the machine's other load falls on all alike: (best, median) of each."""
    walls, cpus = [[] for _ in commands], [[] for _ in commands]
    for _ in range(runs):
        for i, command in enumerate(commands):
            c0, t0 = cpu_children(), time.perf_counter()
            subprocess.run(command, check=True)
            walls[i].append(time.perf_counter() - t0)
            cpus[i].append(cpu_children() - c0)
    return [((min(w), statistics.median(w)), (min(c), statistics.median(c)))
            for w, c in zip(walls, cpus)]


def main():
    tavrel, photos = sys.argv[1], sys.argv[2:]
    os.makedirs(os.path.join(HERE, "sharpen"), exist_ok=True)
    rows = {}
    with tempfile.TemporaryDirectory() as work:
        for n, photo in enumerate(photos):
            w, h, _ = luma(photo)
            width, height = max(1, w // 4), max(1, h // 4)
            outs = make_outputs(tavrel, photo, width, height, work)
            reference = luma(outs["tavrel"])
            print(f"{os.path.basename(photo)} {w}x{h} -> {width}x{height}")
            for name, out in outs.items():
                image = luma(out)
                lap = laplacian(image)
                over, halo = overshoot(image, reference)
                rows.setdefault(name, []).append((lap, over, halo))
                print(f"  {name:22} laplacian {lap:6.2f}  overshoot {over:5.3f}  halo% {halo:5.2f}")
            if n < 3:
                names = ["tavrel", "tavrel //sharpen 0.12", "tavrel //sharpen 0.5", "vipsthumbnail",
                         "ImageMagick"] + (["sharp"] if "sharp" in outs else [])
                crops(outs, names, width, height, os.path.join(HERE, "sharpen", f"crops-{n + 1}.png"))
                print("  crops, left to right: " + ", ".join(names))
            sizes = []
            for extra in ([], ["//sharpen"]):
                out = os.path.join(work, "q75.jpg")
                subprocess.run([tavrel, "//fit", str(width), str(height)] + extra +
                               [photo, "/o", out], check=True)
                sizes.append(os.path.getsize(out))
            print(f"  JPEG q75 bytes: {sizes[0]}, with //sharpen {sizes[1]} "
                  f"({100 * (sizes[1] / sizes[0] - 1):+.1f} %)")
        print("\nmean over the photos")
        base = sum(r[0] for r in rows["tavrel"]) / len(photos)
        for name, values in rows.items():
            lap = sum(v[0] for v in values) / len(values)
            over = sum(v[1] for v in values) / len(values)
            halo = sum(v[2] for v in values) / len(values)
            print(f"  {name:22} laplacian {lap:6.2f} ({100 * lap / base:5.1f} % of tavrel's)"
                  f"  overshoot {over:5.3f}  halo% {halo:5.2f}")
        # The amount whose sharpness meets the peers', between the two
        # measured amounts around it (the Laplacian grows about linearly).
        peers = [n for n in ("vipsthumbnail", "sharp", "ImageMagick") if n in rows]
        target = sum(sum(v[0] for v in rows[n]) / len(photos) for n in peers) / len(peers)
        points = [(0.0, base)] + [(float(a), sum(v[0] for v in rows["tavrel //sharpen " + a]) /
                                   len(photos)) for a in AMOUNTS]
        for (a0, l0), (a1, l1) in zip(points, points[1:]):
            if l0 <= target <= l1:
                print(f"\nthe peers' mean laplacian {target:.2f} is met at amount "
                      f"{a0 + (a1 - a0) * (target - l0) / (l1 - l0):.3f}")

        big = os.path.join(work, "j1.jpg")
        subprocess.run([IM6, photos[0], "-filter", "cubic", "-resize", "6000x4000!",
                        "-attenuate", "0.4", "+noise", "gaussian", "-quality", "90", big],
                       check=True)
        j1 = [tavrel, "/w", "1500", "/h", "1000", big, "/o", os.path.join(work, "j1-out.jpg")]
        plain, sharp = timings([j1, j1[:1] + ["//sharpen"] + j1[1:]], 15)
        for what, i in (("best", 0), ("median", 1)):
            print(f"\nJ1 {what} of 15: wall {plain[0][i]:.3f} s, cpu {plain[1][i]:.3f} s; with "
                  f"//sharpen wall {sharp[0][i]:.3f} s ({100 * (sharp[0][i] / plain[0][i] - 1):+.1f} %),"
                  f" cpu {sharp[1][i]:.3f} s ({100 * (sharp[1][i] / plain[1][i] - 1):+.1f} %)")


if __name__ == "__main__":
    main()
