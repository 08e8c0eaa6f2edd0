#!/usr/bin/python3
"""Which quality of each web codec looks alike, and what it weighs.

Every photo is decoded once to a PNG (the reference); that PNG is written
by tavrel as JPEG, WebP and AVIF at a ladder of "/q" values, each
output decoded back to PNG by tavrel and scored against the reference with
SSIMULACRA (libjxl-devtools' ssimulacra_main: 0 is identical, lower is
better) and Butteraugli (butteraugli_main's max-norm distance).

The photos are measured side by side. For each JPEG quality in --anchors,
the lowest quality of each other codec
whose mean SSIMULACRA is no worse than that JPEG's is reported with the
bytes it takes: the "similar look" the web defaults are chosen from.

  bench/web_quality.py [--tavrel build/tavrel] [--anchors 75,80,85] [PHOTO ...]
  bench/web_quality.py --progressive [--width 1280] PHOTO ...

--progressive instead writes each photo at --width as a baseline JPEG and
with //progressive (progressive scans, tables made for the image), both at
/q 80, checks with djpeg that both decode to the same pixels, and sums the
bytes.

Needs: ssimulacra_main and butteraugli_main (apt-get install libjxl-devtools).
Without photos it uses the real camera photos in /work/shared/testdata and
samples/photo.jpg.
"""
import argparse
import concurrent.futures
import os
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
DEFAULT_PHOTOS = [
    REPO / "samples" / "photo.jpg",
    Path("/work/shared/testdata/exif-samples/gps_DSCN0012.jpg"),
    Path("/work/shared/testdata/exif-samples/tests_45-gps_ifd.jpg"),
    Path("/work/shared/testdata/exif-samples/orientation_landscape_1.jpg"),
    Path("/work/shared/testdata/exif-samples/xmp_no_exif.jpg"),
]
LADDERS = {
    "jpg": range(70, 91, 5),
    "webp": range(60, 91, 5),
    "avif": range(35, 71, 5),
}


def run(*args):
    return subprocess.run([str(a) for a in args], check=True, capture_output=True, text=True).stdout


def score(ref, png):
    ssimulacra = float(run("ssimulacra_main", ref, png).split()[0])
    butteraugli = float(run("butteraugli_main", ref, png).split()[0])
    return ssimulacra, butteraugli


def measure_one(tavrel, index, photo, work):
    """{(codec, q): (bytes, ssimulacra, butteraugli)} of one photo."""
    results = {}
    ref = work / f"ref{index}.png"
    run(tavrel, "//upright", "/%", 100, "/c", "png", "/o", ref, photo)
    for codec, ladder in LADDERS.items():
        for q in ladder:
            out = work / f"out{index}.{codec}"
            back = work / f"back{index}.png"
            run(tavrel, "/%", 100, "/c", codec, "/q", q, "/o", out, ref)
            run(tavrel, "/%", 100, "/c", "png", "/o", back, out)
            results[(codec, q)] = (out.stat().st_size, *score(ref, back))
    print(f"measured {photo.name}", file=sys.stderr)
    return results


def measure(tavrel, photos, work):
    """{(codec, q): [(bytes, ssimulacra, butteraugli) per photo]}, the photos side by side."""
    with concurrent.futures.ProcessPoolExecutor(max_workers=len(photos)) as pool:
        each = pool.map(measure_one, [tavrel] * len(photos), range(len(photos)), photos,
                        [work] * len(photos))
        results = {}
        for one in each:
            for key, value in one.items():
                results.setdefault(key, []).append(value)
    return results


def summary(results):
    rows = {}
    for (codec, q), per in results.items():
        rows[(codec, q)] = (
            sum(p[0] for p in per),
            statistics.mean(p[1] for p in per),
            statistics.mean(p[2] for p in per),
        )
    return rows


def progressive(tavrel, photos, width, work):
    plain = smaller = 0
    for photo in photos:
        sizes = []
        pixels = []
        for name, extra in (("baseline", []), ("progressive", ["//progressive"])):
            out = work / f"{name}.jpg"
            run(tavrel, *extra, "//upright", "/w", width, "/q", 80, "/o", out, photo)
            sizes.append(out.stat().st_size)
            pixels.append(subprocess.run(["djpeg", str(out)], check=True,
                                         capture_output=True).stdout)
        if pixels[0] != pixels[1]:
            sys.exit(f"{photo}: the progressive file decodes to other pixels")
        plain += sizes[0]
        smaller += sizes[1]
    print(f"{len(photos)} photos at {width} wide, /q 80, the same pixels in each pair: "
          f"baseline {plain} bytes, progressive {smaller} bytes "
          f"({100 * (plain - smaller) / plain:.1f} % fewer)")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--progressive", action="store_true")
    parser.add_argument("--width", type=int, default=1280)
    parser.add_argument("--tavrel", default=str(REPO / "build" / "tavrel"))
    parser.add_argument("--anchors", default="70,75,80,85")
    parser.add_argument("photos", nargs="*", type=Path)
    args = parser.parse_args()
    photos = args.photos or [p for p in DEFAULT_PHOTOS if p.exists()]
    if args.progressive:
        with tempfile.TemporaryDirectory() as tmp:
            progressive(args.tavrel, photos, args.width, Path(tmp))
        return
    with tempfile.TemporaryDirectory() as tmp:
        rows = summary(measure(args.tavrel, photos, Path(tmp)))
    print(f"{len(photos)} photos: " + ", ".join(p.name for p in photos))
    print("\n| codec | /q | bytes (all photos) | mean SSIMULACRA | mean Butteraugli |")
    print("|---|---|---|---|---|")
    for (codec, q), (size, s, b) in sorted(rows.items()):
        print(f"| {codec} | {q} | {size} | {s:.5f} | {b:.3f} |")
    print("\n| JPEG /q | its SSIMULACRA | JPEG bytes | codec: lowest /q as good, bytes |")
    print("|---|---|---|---|")
    for anchor in (int(a) for a in args.anchors.split(",")):
        size, target, _ = rows[("jpg", anchor)]
        cells = []
        for codec in ("webp", "avif"):
            good = [q for q in LADDERS[codec] if rows[(codec, q)][1] <= target]
            if good:
                cells.append(f"{codec} {good[0]}: {rows[(codec, good[0])][0]}")
            else:
                cells.append(f"{codec}: none in the ladder")
        print(f"| {anchor} | {target:.5f} | {size} | " + "; ".join(cells) + " |")


if __name__ == "__main__":
    main()
