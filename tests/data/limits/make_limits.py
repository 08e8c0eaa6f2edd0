#!/usr/bin/env python3
"""Writes the files whose headers claim images far larger than their data.

Each is a few hundred bytes; decoding any of them as it claims would need
gigabytes to terabytes of pixels. Run from this folder:
    python3 make_limits.py
The JPEG, HEIC and AVIF files are committed files of tests/data with their
size fields rewritten.
"""
import struct
import zlib


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(width, height, colour_type):
    ihdr = struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0)
    rows = zlib.compress(b"\0" * 4096)  # a few rows' worth, far from all
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) + png_chunk(b"IDAT", rows) +
            png_chunk(b"IEND", b""))


def tiff(width, height, rows_per_strip):
    """Little-endian, 8-bit grey, uncompressed, one strip of 16 bytes."""
    entries = [
        (256, 4, 1, width),            # ImageWidth, LONG
        (257, 4, 1, height),           # ImageLength
        (258, 3, 1, 8),                # BitsPerSample, SHORT
        (259, 3, 1, 1),                # Compression: none
        (262, 3, 1, 1),                # Photometric: min-is-black
        (273, 4, 1, 0),                # StripOffsets, patched below
        (277, 3, 1, 1),                # SamplesPerPixel
        (278, 4, 1, rows_per_strip),   # RowsPerStrip
        (279, 4, 1, 16),               # StripByteCounts
    ]
    ifd_offset = 8
    data_offset = ifd_offset + 2 + 12 * len(entries) + 4
    out = b"II*\0" + struct.pack("<I", ifd_offset) + struct.pack("<H", len(entries))
    for tag, kind, count, value in entries:
        if tag == 273:
            value = data_offset
        packed = struct.pack("<H", value) + b"\0\0" if kind == 3 else struct.pack("<I", value)
        out += struct.pack("<HHI", tag, kind, count) + packed
    return out + struct.pack("<I", 0) + bytes(range(16))


def gif_far_frame():
    """A 65535 x 65535 screen and a frame as large placed at its far corner:
    the canvas grows to 131070 x 131070."""
    out = b"GIF89a" + struct.pack("<HHBBB", 65535, 65535, 0x80, 0, 0)
    out += b"\0\0\0\xff\xff\xff"  # two-colour global table
    out += b"," + struct.pack("<HHHHB", 65535, 65535, 65535, 65535, 0)
    out += b"\x02\x02\x44\x01\0"  # LZW: clear, 0, end
    return out + b";"


def webp_animated_canvas(width, height):
    """An animated VP8X file with a vast canvas and no frames."""
    vp8x = struct.pack("<B3x", 0x02) + (width - 1).to_bytes(3, "little") + \
        (height - 1).to_bytes(3, "little")
    anim = struct.pack("<IH", 0, 0)
    body = b"WEBP" + b"VP8X" + struct.pack("<I", len(vp8x)) + vp8x + \
        b"ANIM" + struct.pack("<I", len(anim)) + anim
    return b"RIFF" + struct.pack("<I", len(body)) + body


def gif_full_frame(side):
    """A side x side screen and a frame as large, with two pixels of data:
    within the canvas rules, which let any canvas up to 64 MP through."""
    out = b"GIF89a" + struct.pack("<HHBBB", side, side, 0x80, 0, 0)
    out += b"\0\0\0\xff\xff\xff"
    out += b"," + struct.pack("<HHHHB", 0, 0, side, side, 0)
    out += b"\x02\x02\x44\x01\0"
    return out + b";"


def webp_wide_canvas(width, height):
    """An animated VP8X file whose canvas is as wide as WebP allows, with
    one frame of a single pixel (a 1 x 1 lossless VP8L bitstream, as cwebp
    writes it) at its left end."""
    vp8l = bytes.fromhex("2f0000000007509042" "14a6ff8188e87f00")[:17]
    vp8x = struct.pack("<B3x", 0x02) + (width - 1).to_bytes(3, "little") + \
        (height - 1).to_bytes(3, "little")
    anim = struct.pack("<IH", 0, 0)
    frame = (0).to_bytes(3, "little") * 2 + (0).to_bytes(3, "little") * 2 + \
        (100).to_bytes(3, "little") + b"\0"
    frame += b"VP8L" + struct.pack("<I", len(vp8l)) + vp8l + b"\0"  # padded to even
    body = b"WEBP" + b"VP8X" + struct.pack("<I", len(vp8x)) + vp8x + \
        b"ANIM" + struct.pack("<I", len(anim)) + anim + \
        b"ANMF" + struct.pack("<I", len(frame)) + frame
    return b"RIFF" + struct.pack("<I", len(body)) + body


def rewrite_ispe(source, width, height):
    """Every image size property (a grid's and its tiles') claims the size."""
    data = bytearray(open(source, "rb").read())
    at = data.find(b"ispe")
    while at >= 0:
        data[at + 8:at + 16] = struct.pack(">II", width, height)
        at = data.find(b"ispe", at + 4)
    return bytes(data)


def rewrite_sof(source, width, height):
    data = bytearray(open(source, "rb").read())
    at = data.find(b"\xff\xc0")
    data[at + 5:at + 9] = struct.pack(">HH", height, width)
    return bytes(data)


files = {
    "png_1000000x1000000.png": png(1000000, 1000000, 6),
    "png_100000x100000.png": png(100000, 100000, 2),
    "tiff_1000000x1000000.tif": tiff(1000000, 1000000, 1000000),
    "gif_far_frame.gif": gif_far_frame(),
    "webp_65000x65000_animated.webp": webp_animated_canvas(65000, 65000),
    "webp_16777216x1_canvas.webp": webp_wide_canvas(16777216, 1),
    "gif_8000x8000_two_pixels.gif": gif_full_frame(8000),
    "jpeg_65500x65500.jpg": rewrite_sof("../codecs/gradient_baseline.jpg", 65500, 65500),
    "heic_1000000x1000000.heic": rewrite_ispe("../formats/rgb8.heic", 1000000, 1000000),
    "avif_1000000x1000000.avif": rewrite_ispe("../formats/rgb8.avif", 1000000, 1000000),
}
for name, data in files.items():
    with open(name, "wb") as f:
        f.write(data)
