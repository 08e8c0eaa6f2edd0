#!/usr/bin/python3
"""Whole-process benchmark: tavrel against its peers on the same work.

Each work item turns one generated photograph into one output of an exact
size. Every program that is installed runs the item as a user would run it
(one process from file to file); the programs alternate inside each round,
and the table shows the median and minimum wall time, the peak resident
memory of the process tree and the ratios to tavrel and to the decode+encode
floor of the libjpeg-turbo tools. Standard library only.
"""

import argparse
import datetime
import os
import platform
import shlex
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time
from collections import namedtuple
from dataclasses import dataclass, field
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
SAMPLE = REPO / "samples" / "photo.jpg"
# /usr/local/bin/convert on these machines is not ImageMagick.
IM6 = "/usr/bin/convert-im6.q16"
SYSTEM_PYTHON = "/usr/bin/python3"
PEER_PACKAGES = ["libvips-tools", "imagemagick-6.q16", "graphicsmagick",
                 "python3-pil", "libjpeg-turbo-progs", "zlib1g"]


# kind: jpeg, png8, png16, png8a (8-bit RGBA: the photo under a soft alpha). A panorama-sized source is the sample upscaled
# in one streamed vips step, without the noise and texture of the others:
# their intermediate float images would take tens of gigabytes.
Source = namedtuple("Source", "name width height kind plain tagged_from",
                    defaults=[False, None])
ADOBE_RGB = Path("/usr/share/color/icc/compatibleWithAdobeRGB1998.icc")  # icc-profiles-free

SOURCES = {
    "jpeg24": Source("photo-6000x4000-q90.jpg", 6000, 4000, "jpeg"),
    "jpeg24adobe": Source("photo-6000x4000-q90-adobe-rgb.jpg", 6000, 4000, "jpeg",
                          tagged_from="jpeg24"),
    "jpeg12": Source("photo-4000x3000-q90.jpg", 4000, 3000, "jpeg"),
    "png24": Source("photo-6000x4000.png", 6000, 4000, "png8"),
    "png24rgba": Source("photo-6000x4000-rgba.png", 6000, 4000, "png8a"),
    "png16": Source("photo-4000x3000-16bit.png", 4000, 3000, "png16"),
    "jpeg675": Source("panorama-30000x22500-q90.jpg", 30000, 22500, "jpeg", plain=True),
    "png300": Source("panorama-20000x15000.png", 20000, 15000, "png8", plain=True),
}


@dataclass
class Item:
    name: str
    title: str
    source: str
    width: int  # before the turn
    height: int
    rotate: bool = False
    big: bool = False  # only the peers that stream run it
    option: str = ""  # tavrel's filter space; only vipsthumbnail runs beside it

    @property
    def jpeg(self):
        return SOURCES[self.source].kind == "jpeg"

    @property
    def deep(self):
        return SOURCES[self.source].kind == "png16"

    @property
    def out_size(self):
        return (self.height, self.width) if self.rotate else (self.width, self.height)

ITEMS = [
    Item("J1", "24 MP JPEG -> 1500x1000 JPEG q75", "jpeg24", 1500, 1000),
    # tavrel and vipsthumbnail convert to sRGB; the others carry the profile.
    Item("J1A", "J1's input with an Adobe RGB profile, matched to sRGB", "jpeg24adobe",
         1500, 1000),
    Item("J1L", "J1 in linear light (//linear; vipsthumbnail --linear)", "jpeg24", 1500, 1000,
         option="//linear"),
    Item("J2", "24 MP JPEG -> 3000x2000 JPEG q75", "jpeg24", 3000, 2000),
    Item("J3", "12 MP JPEG -> 8000x6000 JPEG q75 (upscale)", "jpeg12", 8000, 6000),
    Item("P1", "24 MP 8-bit PNG -> 1500x1000 PNG", "png24", 1500, 1000),
    Item("PA", "24 MP 8-bit RGBA PNG -> 1500x1000 PNG", "png24rgba", 1500, 1000),
    Item("PAP", "PA with premultiplied alpha (//premultiply)", "png24rgba", 1500, 1000,
         option="//premultiply"),
    Item("P16", "16-bit PNG 4000x3000 -> 2000x1500 16-bit PNG", "png16", 2000, 1500),
    Item("R90", "J1 plus a quarter turn clockwise -> 1000x1500 JPEG q75",
         "jpeg24", 1500, 1000, rotate=True),
    Item("G1", "675 MP JPEG 30000x22500 -> 3000x2250 JPEG q75", "jpeg675", 3000, 2250,
         big=True),
    Item("G2", "300 MP PNG 20000x15000 -> 3000x2250 PNG", "png300", 3000, 2250, big=True),
]


def vips(*args):
    subprocess.run(["vips", *map(str, args)], check=True)


# --- inputs -----------------------------------------------------------------

def make_photo(tmp, width, height):
    """A deterministic float photograph: the sample upscaled with a smooth
    kernel and cropped, plus per-channel gaussian noise and fine Perlin
    texture, so that codecs and filters see camera-like detail."""
    scale = max(width / 640, height / 480)
    vips("resize", SAMPLE, tmp / "up.v", scale, "--kernel", "cubic")
    up_w, up_h = round(640 * scale), round(480 * scale)
    vips("extract_area", tmp / "up.v", tmp / "crop.v",
         (up_w - width) // 2, (up_h - height) // 2, width, height)
    for band in range(3):
        vips("gaussnoise", tmp / f"n{band}.v", width, height,
             "--sigma", 4, "--mean", 0, "--seed", 11 + band)
    vips("bandjoin", " ".join(str(tmp / f"n{b}.v") for b in range(3)), tmp / "noise.v")
    vips("perlin", tmp / "perlin.v", width, height, "--cell-size", 8, "--seed", 7)
    vips("linear", tmp / "perlin.v", tmp / "texture.v", 8, 0)
    vips("add", tmp / "crop.v", tmp / "noise.v", tmp / "noisy.v")
    vips("add", tmp / "noisy.v", tmp / "texture.v", tmp / "photo.v")
    return tmp / "photo.v"


def save_source(photo, tmp, source, path):
    if source.kind == "png16":
        vips("linear", photo, tmp / "wide.v", 257, 0)
        vips("cast", tmp / "wide.v", tmp / "u16.v", "ushort")  # cast clips
        vips("copy", tmp / "u16.v", tmp / "rgb16.v", "--interpretation", "rgb16")
        vips("pngsave", tmp / "rgb16.v", path, "--bitdepth", 16, "--strip")
        return
    vips("cast", photo, tmp / "u8.v", "uchar")
    if source.kind == "png8a":
        # Alpha from coarse Perlin noise: wide opaque and clear regions, soft edges.
        vips("perlin", tmp / "a.v", source.width, source.height, "--cell-size", 400, "--seed", 5)
        vips("linear", tmp / "a.v", tmp / "a255.v", 600, 128)
        vips("cast", tmp / "a255.v", tmp / "alpha.v", "uchar")  # cast clips
        vips("bandjoin", f"{tmp / 'u8.v'} {tmp / 'alpha.v'}", tmp / "rgba.v")
        vips("pngsave", tmp / "rgba.v", path, "--strip")
        return
    if source.kind == "jpeg":
        vips("jpegsave", tmp / "u8.v", path, "--Q", 90, "--subsample-mode", "on", "--strip")
    else:
        vips("pngsave", tmp / "u8.v", path, "--strip")


def embed_icc_profile(jpeg, profile, path):
    """The JPEG with the ICC profile in an APP2 segment right after SOI."""
    data, icc = jpeg.read_bytes(), profile.read_bytes()
    body = b"ICC_PROFILE\0" + bytes([1, 1]) + icc
    path.write_bytes(data[:2] + b"\xff\xe2" + struct.pack(">H", len(body) + 2) + body + data[2:])


def ensure_sources(cache, names):
    cache.mkdir(parents=True, exist_ok=True)
    # A tagged source is its untagged one with a profile added.
    names = set(names) | {SOURCES[n].tagged_from for n in names if SOURCES[n].tagged_from}
    for key in sorted(names, key=lambda n: SOURCES[n].tagged_from is not None):
        source = SOURCES[key]
        path = cache / source.name
        if path.exists():
            continue
        print(f"making {path}", file=sys.stderr)
        with tempfile.TemporaryDirectory(dir=cache) as tmp:
            tmp = Path(tmp)
            partial = tmp / ("partial" + path.suffix)
            if source.tagged_from:
                embed_icc_profile(cache / SOURCES[source.tagged_from].name, ADOBE_RGB, partial)
            elif source.plain:
                options = "[Q=90,strip]" if source.kind == "jpeg" else "[strip]"
                vips("resize", SAMPLE, f"{partial}{options}", source.width / 640,
                     "--vscale", source.height / 480, "--kernel", "cubic")
            else:
                photo = make_photo(tmp, source.width, source.height)
                save_source(photo, tmp, source, partial)
            partial.rename(path)


def ensure_floor_ppm(cache, item, src):
    """The floor's encoder input: the source resized to the output size."""
    width, height = item.out_size
    path = cache / f"floor-{width}x{height}-from-{src.stem}.ppm"
    if not path.exists():
        with tempfile.TemporaryDirectory(dir=cache) as tmp:
            tmp = Path(tmp)
            vips("resize", src, tmp / "small.v", item.width / SOURCES[item.source].width,
                 "--vscale", item.height / SOURCES[item.source].height)
            if item.rotate:
                vips("rot", tmp / "small.v", tmp / "turned.v", "d90")
                (tmp / "turned.v").rename(tmp / "small.v")
            vips("ppmsave", tmp / "small.v", tmp / "partial.ppm")
            (tmp / "partial.ppm").rename(path)
    return path


# --- programs ---------------------------------------------------------------

@dataclass
class Program:
    name: str
    argv: list  # empty: not applicable to this item
    out: Path = None  # the file to check; None: nothing written
    note: str = ""
    floor_part: bool = False


PILLOW_SCRIPT = """
import sys
from PIL import Image
src, out, width, height, turn = sys.argv[1:]
im = Image.open(src).resize((int(width), int(height)), Image.Resampling.LANCZOS)
if turn == "1":
    im = im.transpose(Image.Transpose.ROTATE_270)  # ROTATE_90 is counter-clockwise
im.save(out, quality=75)
"""


def has_pillow():
    return os.path.exists(SYSTEM_PYTHON) and subprocess.run(
        [SYSTEM_PYTHON, "-c", "import PIL"], stderr=subprocess.DEVNULL).returncode == 0


def im6_memory_limit():
    """ImageMagick's pixel-cache memory limit in bytes (Debian's policy.xml
    caps it at 256 MiB, and -limit cannot raise it); None if unlimited."""
    listing = subprocess.run([IM6, "-list", "resource"], capture_output=True, text=True).stdout
    units = {"B": 1, "KiB": 1 << 10, "MiB": 1 << 20, "GiB": 1 << 30, "TiB": 1 << 40}
    for line in listing.splitlines():
        name, _, value = line.strip().partition(": ")
        number = value.rstrip("BKMGTi")
        if name == "Memory" and number and value[len(number):] in units:
            return float(number) * units[value[len(number):]]
    return None


def vips_command(item, name, out, make):
    """A vips-based program: `make(target)` is its command writing `target`.
    vips runs one operation a process, so a turn is a second process (vips
    rot) reading the first one's output from a .v file."""
    target = f"{out}[Q=75]" if item.jpeg else str(out)
    if not item.rotate:
        return [str(a) for a in make(target)], ""
    unturned = out.with_name(name + "-unturned.v")
    commands = [make(unturned), ["vips", "rot", unturned, target, "d90"]]
    script = " && ".join(shlex.join(map(str, c)) for c in commands)
    return ["sh", "-c", script], "; then vips rot via a .v file"


def programs_for(item, tavrel, src, out_dir, floor_ppm):
    """Every installed program's command line for the item. PNG outputs use
    each program's default compression: zlib level 6 for tavrel, vips and
    Pillow; level 7 for ImageMagick and GraphicsMagick (their default
    -quality 75). tavrel, ImageMagick and GraphicsMagick filter rows as
    libpng chooses; vips leaves them unfiltered unless asked, so it runs
    both ways."""
    w, h = item.width, item.height
    source = SOURCES[item.source]
    out = lambda name: out_dir / (name + (".jpg" if item.jpeg else ".png"))
    progs = []

    args = [tavrel, "/w", w, "/h", h, "/k", "s"]
    args += ["/q", "75"] if item.jpeg else ["/c", "png"]
    args += ["/b", "48"] if item.deep else []
    args += ["/r", "90"] if item.rotate else []
    args += [item.option] if item.option else []
    progs.append(Program("tavrel", args + ["/o", out("tavrel"), src], out("tavrel"),
                         "two-lobe sinc (/k s, the default)"))

    if shutil.which("vips") and not item.option:
        argv, extra = vips_command(item, "vips", out("vips"), lambda target: [
            "vips", "resize", src, target, w / source.width, "--vscale", h / source.height,
            "--kernel", "lanczos2"])
        progs.append(Program("vips resize", argv, out("vips"),
                             "lanczos2, default gap 2 (box shrink first)" + extra))
        if not item.jpeg:
            # vips writes PNG rows unfiltered by default: quicker to deflate,
            # but a larger file. With libpng's adaptive filters, as tavrel,
            # ImageMagick and GraphicsMagick write them, the files match.
            argv, extra = vips_command(item, "vips-filtered", out("vips-filtered"),
                                       lambda target: [
                "vips", "resize", src, f"{target}[filter=248]", w / source.width,
                "--vscale", h / source.height, "--kernel", "lanczos2"])
            progs.append(Program("vips resize, adaptive filters", argv, out("vips-filtered"),
                                 "as vips resize, rows filtered as libpng chooses" + extra))
    if shutil.which("vipsthumbnail"):
        # Left alone, vipsthumbnail carries a profile over; asked, it
        # converts to sRGB after the shrink.
        export = ["--export-profile", "srgb"] if source.tagged_from else []
        linear = ["--linear"] if item.option == "//linear" else []
        argv, extra = vips_command(item, "vipsthumbnail", out("vipsthumbnail"), lambda target: [
            "vipsthumbnail", src, "--size", f"{w}x{h}!", *export, *linear, "-o", target])
        note = "lanczos3 (no kernel option)"
        note += "; JPEG shrink-on-load where it pays" if item.jpeg else ""
        note += "; to sRGB after the shrink" if export else ""
        note += "; --linear" if linear else ""
        note += "; premultiplies alpha itself" if SOURCES[item.source].kind == "png8a" else ""
        progs.append(Program("vipsthumbnail", argv, out("vipsthumbnail"), note + extra))

    magick_tail = (["-rotate", "90"] if item.rotate else []) + (
        ["-quality", "75"] if item.jpeg else [])
    # Big items: the others hold the whole image (minutes and gigabytes).
    # Filter spaces: only vipsthumbnail offers them.
    if item.big or item.option:
        return progs + floor_programs(item, src, out, floor_ppm)
    if os.path.exists(IM6):
        note = "Lanczos2"
        limit = im6_memory_limit()
        if limit and max(w * h, source.width * source.height) * 8 > limit:  # 4 x 16 bits
            note += f"; an image exceeds the policy's {limit / 2**20:.0f} MiB: disk cache"
        progs.append(Program("ImageMagick 6", [IM6, src, "-filter", "Lanczos2", "-resize",
                                               f"{w}x{h}!", *magick_tail, out("im6")],
                             out("im6"), note))
    if shutil.which("gm"):
        progs.append(Program("GraphicsMagick", ["gm", "convert", src, "-filter", "Lanczos",
                                                "-resize", f"{w}x{h}!", *magick_tail, out("gm")],
                             out("gm"), "Lanczos, 3 lobes: gm has no Lanczos2"))
    if has_pillow() and item.deep:
        progs.append(Program("Pillow", [], note="n/a: cannot write 16-bit RGB"))
    elif has_pillow():
        progs.append(Program("Pillow", [SYSTEM_PYTHON, "-c", PILLOW_SCRIPT, src, out("pillow"),
                                        w, h, int(item.rotate)], out("pillow"),
                             "LANCZOS, 3 lobes"))

    return progs + floor_programs(item, src, out, floor_ppm)


def floor_programs(item, src, out, floor_ppm):
    if not (item.jpeg and shutil.which("djpeg") and shutil.which("cjpeg")):
        return []
    return [Program("djpeg", ["djpeg", "-outfile", "/dev/null", src], floor_part=True),
            Program("cjpeg", ["cjpeg", "-quality", "75", "-outfile", out("floor"), floor_ppm],
                    out("floor"), floor_part=True)]


# --- running and checking ---------------------------------------------------

def image_header(path):
    """(width, height, bits per sample) from a PNG or JPEG header, or None."""
    with open(path, "rb") as f:
        data = f.read(1 << 20)  # room for large APPn segments before the frame
    if data[:8] == b"\x89PNG\r\n\x1a\n":
        return struct.unpack(">IIB", data[16:25])
    pos = 2
    while data[:2] == b"\xff\xd8" and pos + 9 <= len(data) and data[pos] == 0xFF:
        marker, length = data[pos + 1], struct.unpack(">H", data[pos + 2:pos + 4])[0]
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            depth, height, width = struct.unpack(">BHH", data[pos + 4:pos + 9])
            return width, height, depth
        pos += 2 + length
    return None


@dataclass
class Result:
    times: list = field(default_factory=list)
    peaks_kib: list = field(default_factory=list)
    problem: str = ""
    out_bytes: int = 0


def run_once(prog, expected, err_path, result):
    """Runs the program once, adding its wall time and the peak resident
    memory of its process tree to the result and noting any fault."""
    if prog.out:
        prog.out.unlink(missing_ok=True)
    with open(err_path, "wb") as err:
        start = time.perf_counter()
        proc = subprocess.Popen([str(a) for a in prog.argv],
                                stdout=subprocess.DEVNULL, stderr=err)
        _, status, usage = os.wait4(proc.pid, 0)
        elapsed = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    result.times.append(elapsed)
    result.peaks_kib.append(usage.ru_maxrss)
    if proc.returncode != 0:
        last = err_path.read_text(errors="replace").strip().splitlines()[-1:]
        result.problem = f"exit {proc.returncode} {' '.join(last)}".strip()
    elif prog.out:
        header = image_header(prog.out) if prog.out.exists() else None
        if header is None:
            result.problem = "no readable output"
        elif header != expected:
            result.problem = "wrong output: {}x{} {}-bit".format(*header)
        else:
            result.out_bytes = prog.out.stat().st_size


def measure(item, progs, out_dir, runs):
    """One warm-up round, then `runs` rounds in which every program runs
    once; each round starts one program later so that none always runs
    right after the same neighbour."""
    expected = (*item.out_size, 16 if item.deep else 8)
    active = [p for p in progs if p.argv]
    results = {p.name: Result() for p in active}
    for rnd in range(runs + 1):
        shift = rnd % len(active)
        for prog in active[shift:] + active[:shift]:
            result = results[prog.name] if rnd else Result()
            run_once(prog, expected, out_dir / "stderr.txt", result)
            results[prog.name].problem = results[prog.name].problem or result.problem
            results[prog.name].out_bytes = result.out_bytes
    return results


# --- reporting --------------------------------------------------------------

def table(item, progs, results):
    parts = [results[p.name] for p in progs if p.floor_part]
    floor = sum(statistics.median(r.times) for r in parts) if parts else None
    tavrel = results.get("tavrel")
    base = statistics.median(tavrel.times) if tavrel and not tavrel.problem else None

    def row(name, median, minimum, peak_kib, out_bytes, note):
        ratios = [f"{median / to:.2f}" if to else "" for to in (base, floor)]
        size = f"{out_bytes / 2**20:.2f}" if out_bytes else ""
        return (f"| {name} | {median:.3f} | {minimum:.3f} | {peak_kib / 1024:.0f} | {size} | "
                f"{ratios[0]} | {ratios[1]} | {note} |")

    lines = [f"### {item.name}: {item.title}", "",
             "| program | median s | min s | peak MiB | output MiB | × tavrel | × floor | note |",
             "|---|---:|---:|---:|---:|---:|---:|---|"]
    for prog in progs:
        r = results.get(prog.name)
        if not prog.argv:
            lines.append(f"| {prog.name} | n/a | | | | | | {prog.note} |")
        elif not prog.floor_part:
            note = "; ".join(filter(None, [r.problem and f"**{r.problem}**", prog.note]))
            lines.append(row(prog.name, statistics.median(r.times), min(r.times),
                             max(r.peaks_kib), r.out_bytes, note))
    if parts:  # decode and encode timed apart, summed
        lines.append(row("floor: djpeg + cjpeg -quality 75", floor,
                         sum(min(r.times) for r in parts), max(max(r.peaks_kib) for r in parts),
                         results["cjpeg"].out_bytes,
                         "decode of the input, encode of a prepared PPM"))
    else:
        lines.append("| floor | n/a | | | | | | zlib-bound, no fair tool |")
    return "\n".join(lines) + "\n"


def machine_description():
    def command_output(argv):
        try:
            return subprocess.run(argv, capture_output=True, text=True).stdout.strip()
        except OSError:
            return ""

    model = next((line.split(":", 1)[1].strip() for line in
                  command_output(["lscpu"]).splitlines() if line.startswith("Model name")), "?")
    lines = [f"Machine: {model}, {os.cpu_count()} cores, Linux {platform.release()}, "
             f"load average {os.getloadavg()[0]:.2f}; "
             f"{datetime.datetime.now().isoformat(timespec='minutes')}", ""]
    revision = command_output(["git", "-C", str(REPO), "rev-parse", "--short", "HEAD"])
    lines.append(f"- tavrel {revision or '?'}")
    for package in PEER_PACKAGES:
        version = command_output(["dpkg-query", "-W", "-f", "${Version}", package])
        lines.append(f"- {package} {version or 'not installed'}")
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--runs", type=int, default=5, help="timed rounds (default 5)")
    parser.add_argument("--items", default=",".join(i.name for i in ITEMS),
                        help="comma-separated work items (default all)")
    parser.add_argument("--tavrel", type=Path, default=REPO / "build" / "tavrel")
    parser.add_argument("--inputs", type=Path, default=REPO / "bench" / ".inputs",
                        help="cache folder for the generated inputs")
    parser.add_argument("--markdown", type=Path, help="append the tables and the machine here")
    parser.add_argument("--skip", default="",
                        help="comma-separated programs to leave out, e.g. 'ImageMagick 6'")
    args = parser.parse_args()
    skipped = {name.strip() for name in args.skip.split(",") if name.strip()}

    by_name = {i.name: i for i in ITEMS}
    unknown = [n for n in args.items.split(",") if n not in by_name]
    for failed, message in [(unknown, f"unknown items: {unknown}"),
                            (args.runs < 1, "--runs must be at least 1"),
                            (not args.tavrel.exists(), f"no tavrel at {args.tavrel}"),
                            (not shutil.which("vips"), "vips makes the inputs: "
                             "scripts/install-deps.sh bench")]:
        if failed:
            parser.error(message)
    items = [by_name[n] for n in args.items.split(",")]
    cache = args.inputs.resolve()
    machine = machine_description()  # the load before the runs
    ensure_sources(cache, {i.source for i in items})

    tables = []
    with tempfile.TemporaryDirectory(prefix="tavrel-bench-") as work:
        for item in items:
            src = cache / SOURCES[item.source].name
            floor_ppm = ensure_floor_ppm(cache, item, src) if item.jpeg else None
            progs = [p for p in programs_for(item, args.tavrel.resolve(), src, Path(work),
                                             floor_ppm) if p.name not in skipped]
            print(f"{item.name}: {args.runs} round(s) of {len(progs)} programs",
                  file=sys.stderr)
            tables.append(table(item, progs, measure(item, progs, Path(work), args.runs)))
            print(tables[-1])
    if args.markdown:
        with open(args.markdown, "a") as f:
            f.write(machine + "\n" + "\n".join(tables))


if __name__ == "__main__":
    main()
