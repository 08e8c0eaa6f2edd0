#!/usr/bin/python3
"""A web site's image build, tavrel against sharp, and a srcset of one big photo.

1. Site build: every JPEG of a folder into 320w, 640w, 1280w and a 200x200
   square, each as WebP and JPEG. tavrel: one run (//each //web //formats
   webp,jpg //sizes ...), and the same with //shrink-on-load. sharp: concurrency at the machine's cores, two
   inputs at a time, one decode each (rotate() for EXIF) and eight clone()s.
2. Srcset: a 24 MP JPEG into four widths x AVIF, WebP and JPEG in one
   tavrel run, against one "/w 1500" JPEG run: wall time and peak memory.

Rounds alternate the programs after a warm-up round; the median and minimum
wall time, the median CPU time (user and system, every thread) and the peak
resident memory (GNU time's maximum RSS) are given. --before adds another
tavrel build (the main one, say) to every round, so that a change is
measured against it in the same session.

  bench/site_build.py [--tavrel build/tavrel] [--before OTHER] [--runs 5] [--photos DIR]

Inputs go to bench/.inputs/ (made once, about two minutes): without
--photos, 84 JPEGs cut from the few real camera photos there are here
(/work/shared/testdata, samples/photo.jpg): each a different crop, scaled
to a camera size (1600 to 3024 pixels wide, every fifth portrait), saved
at quality 82 to 95 (the first 13 of the set used in RESULTS.md were made
4032 wide at most with a little noise added; the rest as now). sharp is installed
into bench/.inputs/sharp/node_modules (npm install sharp), never committed.
"""
import argparse
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
INPUTS = REPO / "bench" / ".inputs"
PHOTOS = [
    REPO / "samples" / "photo.jpg",
    Path("/work/shared/testdata/exif-samples/gps_DSCN0012.jpg"),
    Path("/work/shared/testdata/exif-samples/tests_45-gps_ifd.jpg"),
    Path("/work/shared/testdata/exif-samples/orientation_landscape_1.jpg"),
    Path("/work/shared/testdata/exif-samples/xmp_no_exif.jpg"),
    Path("/work/shared/testdata/exif-samples/orientation_portrait_1.jpg"),
]
CONVERT = "/usr/bin/convert-im6.q16"
WIDTHS = [1600, 2048, 2560, 3024]

SHARP_SCRIPT = r"""
const sharp = require('sharp');
const path = require('path');
const [, , outDir, cores, ...files] = process.argv;
sharp.concurrency(Number(cores));
sharp.cache(false);
const widths = [320, 640, 1280];
async function one(file) {
  const base = path.join(outDir, path.basename(file, path.extname(file)));
  const source = sharp(file).rotate();
  const jobs = [];
  for (const w of widths) {
    const sized = source.clone().resize({ width: w, withoutEnlargement: true });
    jobs.push(sized.clone().webp().toFile(`${base}-${w}w.webp`));
    jobs.push(sized.clone().jpeg().toFile(`${base}-${w}w.jpg`));
  }
  const square = source.clone().resize(200, 200, { fit: 'cover' });
  jobs.push(square.clone().webp().toFile(`${base}-200x200-fill.webp`));
  jobs.push(square.clone().jpeg().toFile(`${base}-200x200-fill.jpg`));
  await Promise.all(jobs);
}
async function main() {
  let next = 0;
  async function worker() { while (next < files.length) await one(files[next++]); }
  await Promise.all([worker(), worker()]);
}
main().catch((e) => { console.error(e); process.exit(1); });
"""


def make_site_inputs(folder, count=84):
    folder.mkdir(parents=True, exist_ok=True)
    photos = [p for p in PHOTOS if p.exists()]
    rng = random.Random(40)
    for i in range(count):
        out = folder / f"IMG_{1000 + i}.jpg"
        if out.exists():
            continue
        photo = photos[i % len(photos)]
        keep = rng.uniform(0.6, 1.0)
        gx, gy = rng.uniform(0, 1 - keep), rng.uniform(0, 1 - keep)
        width = rng.choice(WIDTHS)
        turn = ["-rotate", "90"] if i % 5 == 4 else []
        crop = f"{keep * 100:.1f}%x{keep * 100:.1f}%+0+0"
        subprocess.run(
            [CONVERT, str(photo), "-auto-orient", "-gravity", "NorthWest",
             "-crop", crop, "+repage", *turn, "-filter", "Lanczos",
             "-resize", f"{width}x",
             "-sampling-factor", "2x2", "-quality", str(rng.randint(82, 95)),
             str(out)], check=True)
    return sorted(folder.glob("*.jpg"))


def make_big_input(path):
    if not path.exists():
        path.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run(
            [CONVERT, str(PHOTOS[0]), "-filter", "Cubic", "-resize", "6000x4000!",
             "-attenuate", "0.3", "+noise", "Gaussian", "-sampling-factor", "2x2",
             "-quality", "90", str(path)], check=True)
    return path


def timed(command, cwd=None):
    """(seconds, peak RSS in MB, CPU seconds) of one run; the run must succeed."""
    result = subprocess.run(["/usr/bin/time", "-f", "%e %M %U %S", *map(str, command)], cwd=cwd,
                            capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"failed: {command}\n{result.stderr}")
    seconds, kilobytes, user, system = result.stderr.strip().splitlines()[-1].split()
    return float(seconds), int(kilobytes) / 1024, float(user) + float(system)


def folder_bytes(folder):
    return sum(p.stat().st_size for p in folder.rglob("*") if p.is_file())


def rounds(commands, runs, fresh):
    """{name: [(s, MB)]}: a warm-up round, then runs rounds, programs alternating."""
    times = {name: [] for name in commands}
    for round_index in range(runs + 1):
        for name, command in commands.items():
            fresh(name)
            measured = timed(command)
            if round_index > 0:
                times[name].append(measured)
    return times


def table(times, reference):
    lines = ["| program | median s | min s | median CPU s | peak MB | median / " + reference + " |",
             "|---|---|---|---|---|---|"]
    ref = statistics.median(t for t, _, _ in times[reference])
    for name, runs in times.items():
        median = statistics.median(t for t, _, _ in runs)
        cpu = statistics.median(c for _, _, c in runs)
        peak = max(m for _, m, _ in runs)
        lines.append(f"| {name} | {median:.2f} | {min(t for t, _, _ in runs):.2f} | {cpu:.2f} | "
                     f"{peak:.0f} | {median / ref:.2f} |")
    return "\n".join(lines)


def site_build(tavrel, before, runs, photos):
    work = Path(tempfile.mkdtemp(prefix="site-"))
    script = INPUTS / "sharp" / "site.js"
    script.write_text(SHARP_SCRIPT)
    cores = os.cpu_count()
    outs = {"tavrel": work / "tavrel", "tavrel //shrink-on-load": work / "shrink",
            "sharp": work / "sharp"}
    if before:
        outs["tavrel before"] = work / "before"

    def fresh(name):
        shutil.rmtree(outs[name], ignore_errors=True)
        outs[name].mkdir(parents=True)

    commands = {
        "tavrel": [tavrel, "//each", "//web", "//formats", "webp,jpg", "//sizes",
                   "320w,640w,1280w,200x200:fill", "/o", f"{outs['tavrel']}/{{name}}-{{size}}.{{ext}}",
                   *photos],
        "tavrel //shrink-on-load": [
            tavrel, "//each", "//web", "//shrink-on-load", "//formats", "webp,jpg", "//sizes",
            "320w,640w,1280w,200x200:fill", "/o", f"{outs['tavrel //shrink-on-load']}/{{name}}-{{size}}.{{ext}}",
            *photos],
        "sharp": ["node", script, outs["sharp"], cores, *photos],
    }
    if before:
        commands["tavrel before"] = [before, *commands["tavrel"][1:-len(photos) - 2], "/o",
                                     f"{outs['tavrel before']}/{{name}}-{{size}}.{{ext}}", *photos]
    times = rounds(commands, runs, fresh)
    counts = {n: len(list(outs[n].iterdir())) for n in outs}
    sizes = {n: folder_bytes(outs[n]) for n in outs}
    shutil.rmtree(work)
    return times, counts, sizes


def srcset(tavrel, before, runs, big):
    work = Path(tempfile.mkdtemp(prefix="srcset-"))
    folders = {}

    def out(name, file):
        folders[name] = work / str(len(folders))
        return f"{folders[name]}/{file}"

    def fresh(name):
        shutil.rmtree(folders[name], ignore_errors=True)
        folders[name].mkdir()

    many = ["//formats", "avif,webp,jpg", "//sizes", "480w,800w,1200w,1500w"]
    commands = {
        "one /w 1500 JPEG": [tavrel, "/w", "1500", "/o", out("one /w 1500 JPEG", "o.jpg"), big],
        "4 widths x avif,webp,jpg": [
            tavrel, "//web", *many, "/o", out("4 widths x avif,webp,jpg", "o-{size}.{ext}"), big],
        "the same, //effort 0": [
            tavrel, "//web", "//effort", "0", *many, "/o",
            out("the same, //effort 0", "o-{size}.{ext}"), big],
        "4 widths x webp,jpg": [
            tavrel, "//web", "//formats", "webp,jpg", "//sizes", "480w,800w,1200w,1500w", "/o",
            out("4 widths x webp,jpg", "o-{size}.{ext}"), big],
    }
    if before:
        commands["before: 4 widths x avif,webp,jpg"] = [
            before, "//web", *many, "/o",
            out("before: 4 widths x avif,webp,jpg", "o-{size}.{ext}"), big]
    times = rounds(commands, runs, fresh)
    shutil.rmtree(work)
    return times


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tavrel", default=str(REPO / "build" / "tavrel"))
    parser.add_argument("--before", help="another tavrel build, measured in the same rounds")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--photos", type=Path)
    parser.add_argument("--only", choices=["site", "srcset"])
    args = parser.parse_args()
    tavrel = Path(args.tavrel).resolve()
    before = Path(args.before).resolve() if args.before else None
    if args.only != "srcset":
        photos = sorted(args.photos.glob("*.jpg")) if args.photos else make_site_inputs(
            INPUTS / "site")
        times, counts, sizes = site_build(tavrel, before, args.runs, photos)
        print(f"### Site build: {len(photos)} JPEGs, {os.cpu_count()} cores, {args.runs} rounds\n")
        print(table(times, "tavrel"))
        print("\noutputs: " + ", ".join(f"{n} {counts[n]} files, {sizes[n]} bytes" for n in counts))
    if args.only != "site":
        big = make_big_input(INPUTS / "big-24mp.jpg")
        print(f"\n### Srcset of one 24 MP JPEG, {args.runs} rounds\n")
        print(table(srcset(tavrel, before, args.runs, big), "one /w 1500 JPEG"))


if __name__ == "__main__":
    main()
