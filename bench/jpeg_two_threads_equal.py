#!/usr/bin/python3
"""Every JPEG the bench holds (bench/.inputs, made by the other scripts),
decoded on both cores (bands, or the entropy stage) and under taskset -c 0
(one thread, the serial decode): the outputs must be the same bytes. Each
file is written as PNG at its full size (every decoded pixel, resampled by
the identity) and, with //shrink-on-load, 256 wide from the scaled decode.

    bench/jpeg_two_threads_equal.py [--tavrel build/tavrel]
"""
import argparse
import subprocess
import sys
import tempfile
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
INPUTS = REPO / "bench" / ".inputs"


def run(argv):
    return subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE).returncode


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tavrel", default=str(REPO / "build" / "tavrel"))
    args = parser.parse_args()
    files = sorted(p for p in INPUTS.rglob("*.jpg") if "node_modules" not in p.parts)
    out = Path(tempfile.mkdtemp())
    compared = differ = 0
    for path in files:
        for work in (["/%", "100"], ["//shrink-on-load", "/w", "256"]):
            outputs = []
            for pin in ([], ["taskset", "-c", "0"]):
                o = out / f"{len(outputs)}.png"
                status = run(pin + [args.tavrel, *work, "/c", "png", "/o", str(o), str(path)])
                outputs.append((status, o.read_bytes() if o.exists() else b""))
                o.unlink(missing_ok=True)
            compared += 1
            if outputs[0] != outputs[1]:
                differ += 1
                print(f"differ: {path.relative_to(INPUTS)} {' '.join(work)}")
    print(f"{compared} decodes compared over {len(files)} files, {differ} differ")
    sys.exit(1 if differ else 0)


if __name__ == "__main__":
    main()
