#!/usr/bin/env python3
"""//crop attention|entropy against vipsthumbnail --smartcrop on real photos.

For each photo and rule: the window tavrel chooses for //fill 200 200 (from
its report) and the one vipsthumbnail chooses, found by matching its output
against its own uncropped resize; both as the offset of the window along the
cropped side of the full resize. Then the time of a 12 MP //fill 200 200
with each rule, every way in turn inside each round (the first round a
warm-up), with the median wall and CPU seconds (user + system), and the
same for a second binary when BEFORE=path/to/tavrel is set. Usage:
bench/smart_crop.py TAVREL PHOTO... (the first photo is also scaled to
4000x3000 for the timing; RUNS=9 sets the rounds).
"""
import json
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time


def ppm(path):
    data = open(path, "rb").read()
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace() or data[at:at + 1] == b"#":
            if data[at:at + 1] == b"#":
                at = data.index(b"\n", at)
            at += 1
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[at + 1:]


def vips_offset(photo, rule, work):
    crop, full = os.path.join(work, "v.ppm"), os.path.join(work, "f.ppm")
    subprocess.run(["vipsthumbnail", photo, "-s", "200x200", "--smartcrop", rule, "--no-rotate",
                    "-o", crop], check=True)
    cw, ch, cp = ppm(crop)
    subprocess.run(["vipsthumbnail", photo, "-s", "100000x200", "--no-rotate", "-o", full],
                   check=True)
    fw, fh, fp = ppm(full)
    if fw < cw or fh < ch:  # a portrait photo: the full resize is 200 wide
        subprocess.run(["vipsthumbnail", photo, "-s", "200x100000", "--no-rotate", "-o", full],
                       check=True)
        fw, fh, fp = ppm(full)
    best = None
    for off in range(max(fw - cw, fh - ch) + 1):
        x, y = (off, 0) if fw > cw else (0, off)
        sad = 0
        for row in range(0, ch, 4):
            a = fp[((y + row) * fw + x) * 3:((y + row) * fw + x + cw) * 3]
            b = cp[row * cw * 3:(row + 1) * cw * 3]
            sad += sum(abs(p - q) for p, q in zip(a[::12], b[::12]))
        if best is None or sad < best[0]:
            best = (sad, off)
    return best[1], max(fw, fh)


def tavrel_offset(tavrel, photo, rule, work):
    out = subprocess.run([tavrel, "//fill", "200", "200", "//crop", rule, "//report", "-",
                          "/c", "png", "/o", os.path.join(work, "t.png"), photo],
                         check=True, capture_output=True, text=True).stdout
    crop = json.loads(out)["crop"]
    return max(crop["left"], crop["top"]) if crop else 0


def timed(argv):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(argv, check=True, capture_output=True)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def interleaved(argvs, runs):
    """The median wall and CPU seconds of each way, all run in turn inside
    each round."""
    times = {name: [] for name in argvs}
    for round_ in range(runs + 1):
        for name, argv in argvs.items():
            if round_ > 0:
                times[name].append(timed(argv))
            else:
                timed(argv)
    return {name: (statistics.median(w for w, _ in t), statistics.median(c for _, c in t))
            for name, t in times.items()}


def main():
    tavrel, photos = sys.argv[1], sys.argv[2:]
    with tempfile.TemporaryDirectory() as work:
        print("| photo | full resize side | rule | tavrel offset | vipsthumbnail offset |")
        print("|---|---:|---|---:|---:|")
        for photo in photos:
            for rule in ("attention", "entropy"):
                ours = tavrel_offset(tavrel, photo, rule, work)
                theirs, side = vips_offset(photo, rule, work)
                print(f"| {os.path.basename(photo)} | {side} | {rule} | {ours} | {theirs} |")
        big = os.path.join(work, "big.jpg")
        subprocess.run([tavrel, "/w", "4000", "/h", "3000", "/q", "90", "/o", big, photos[0]],
                       check=True, capture_output=True)
        out = os.path.join(work, "o.jpg")
        binaries = {"tavrel": tavrel}
        if os.environ.get("BEFORE"):
            binaries["before"] = os.environ["BEFORE"]
        argvs = {}
        for name, binary in binaries.items():
            for shrink in ([], ["//shrink-on-load"]):
                for rule in ("centre", "attention", "entropy"):
                    argvs[" ".join([name, *shrink, "//crop", rule])] = [
                        binary, "//fill", "200", "200", *shrink, "//crop", rule, "/o", out, big]
        for rule in ("centre", "attention", "entropy"):
            argvs[f"vipsthumbnail --smartcrop {rule}"] = [
                "vipsthumbnail", big, "-s", "200x200", "--smartcrop", rule, "-o", out]
        results = interleaved(argvs, int(os.environ.get("RUNS", "9")))
        print("\n| 12 MP JPEG to 200x200 | median wall s | median CPU s | wall, CPU against "
              "centre |\n|---|---:|---:|---:|")
        for name, (wall, cpu) in results.items():
            centre = results[name.rsplit(" ", 1)[0] + " centre"]
            print(f"| {name} | {wall:.3f} | {cpu:.3f} | {wall / centre[0] - 1:+.0%}, "
                  f"{cpu / centre[1] - 1:+.0%} |")


if __name__ == "__main__":
    main()
