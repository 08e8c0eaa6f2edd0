#!/usr/bin/env python3
"""Writes the hostile image files of this folder (Python standard library only).

Run from anywhere: python3 tests/data/hostile/make_hostile.py
The files are committed; the tests read them and never run this script. The
outcome each file must have is asserted in tests/driver/hostile_files_test.cpp;
what each one is meant to provoke is said where it is made.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.dirname(HERE)


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def read_data(relative):
    with open(os.path.join(DATA, relative), "rb") as f:
        return f.read()


# ---------------------------------------------------------------- PNG

def png_chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data +
            struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def png(width, height, bit_depth, colour_type, idat):
    ihdr = struct.pack(">IIBBBBB", width, height, bit_depth, colour_type, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) + png_chunk(b"IDAT", idat) +
            png_chunk(b"IEND", b""))


def make_png_files():
    # A header claiming 100000 x 100000 RGB pixels, followed by one row of data.
    row = b"\0" * (1 + 3 * 100000)
    write("huge_100000x100000.png", png(100000, 100000, 8, 2, zlib.compress(row, 9)))

    # A compression bomb that is a legal image: 4096 x 4096 1-bit grey, all
    # black. Each row is a filter byte and 512 zero bytes; deflate stores the
    # 2 MiB of rows in some 2 KB, and the pixels fill a 64 MiB ARGB buffer
    # (32000 times the file).
    width = height = 4096
    raw_row = b"\0" * (1 + width // 8)
    compressor = zlib.compressobj(9)
    parts = [compressor.compress(raw_row) for _ in range(height)]
    parts.append(compressor.flush())
    write("bomb_4096x4096_1bit.png", png(width, height, 1, 0, b"".join(parts)))


# ---------------------------------------------------------------- TIFF

SHORT, LONG = 3, 4


def tiff_entry(tag, kind, count, value):
    """A classic little-endian IFD entry; value is an int placed in the
    4-byte value field (left-justified for SHORT)."""
    if kind == SHORT and count == 1:
        field = struct.pack("<HH", value, 0)
    else:
        field = struct.pack("<I", value)
    return struct.pack("<HHI", tag, kind, count) + field


def tiff_ifd(entries, next_offset):
    entries = sorted(entries, key=lambda e: struct.unpack("<H", e[:2])[0])
    return struct.pack("<H", len(entries)) + b"".join(entries) + struct.pack("<I", next_offset)


def grey_entries(width, height, strip_offset, strip_bytes):
    return [
        tiff_entry(256, LONG, 1, width),
        tiff_entry(257, LONG, 1, height),
        tiff_entry(258, SHORT, 1, 8),
        tiff_entry(259, SHORT, 1, 1),          # no compression
        tiff_entry(262, SHORT, 1, 1),          # black is zero
        tiff_entry(273, LONG, 1, strip_offset),
        tiff_entry(277, SHORT, 1, 1),
        tiff_entry(278, LONG, 1, height),
        tiff_entry(279, LONG, 1, strip_bytes),
    ]


def with_rows_per_strip(entries, rows):
    return [e for e in entries if struct.unpack("<H", e[:2])[0] != 278] + [
        tiff_entry(278, LONG, 1, rows)]


def ramp(size):
    return bytes(i * 16 % 256 for i in range(size))


IFD0 = 8 + 64  # after the header and an 8 x 8 grey image at offset 8


def ifd_size(entry_count):
    return 2 + 12 * entry_count + 4


def small_tiff(extra_entries=(), next_offset=0, ifd0=IFD0, strip_offset=8, tail=b""):
    """An 8 x 8 grey TIFF (a diagonal ramp) with its IFD at offset 72."""
    pixels = bytes((x + y) * 16 for y in range(8) for x in range(8))
    entries = grey_entries(8, 8, strip_offset, 64) + list(extra_entries)
    return (b"II*\0" + struct.pack("<I", ifd0) + pixels + tiff_ifd(entries, next_offset) +
            tail)


def make_tiff_files():
    one_ifd = ifd_size(9)
    # IFD0's next-IFD offset points back at IFD0.
    write("tiff_ifd_self_loop.tif", small_tiff(next_offset=IFD0))
    # IFD0 -> IFD1 -> IFD0: the second IFD is a copy of the first.
    ifd1 = IFD0 + one_ifd
    second = tiff_ifd(grey_entries(8, 8, 8, 64), IFD0)
    write("tiff_ifd_two_loop.tif", small_tiff(next_offset=ifd1, tail=second))
    # The Exif IFD pointer and the SubIFDs tag name IFD0 itself.
    write("tiff_exif_and_subifd_loop.tif",
          small_tiff([tiff_entry(34665, LONG, 1, IFD0), tiff_entry(330, LONG, 1, IFD0)]))
    # The first IFD lies beyond the end of the file.
    write("tiff_ifd0_past_end.tif", small_tiff(ifd0=0xFFFFFF00))
    # The next IFD, the Exif IFD and the GPS IFD lie beyond the end.
    write("tiff_ifds_past_end.tif",
          small_tiff([tiff_entry(34665, LONG, 1, 0x7FFFFFF0), tiff_entry(34853, LONG, 1, 0x10000)],
                     next_offset=0xFFFFFFF0))
    # The only strip lies beyond the end of the file.
    write("tiff_strip_past_end.tif", small_tiff(strip_offset=0x7FFF0000))
    # IFD0 claims 65535 entries; the file ends after the first nine.
    data = bytearray(small_tiff())
    data[IFD0:IFD0 + 2] = struct.pack("<H", 0xFFFF)
    write("tiff_ifd_huge_count.tif", bytes(data))
    # 56 x 1048616 grey in strips of 40 rows, of which only the first is
    # listed (ImageLength raised from 40): libtiff makes up the other 26215
    # as empty strips at offset 0, and would read the header for each.
    entries = with_rows_per_strip(grey_entries(56, 1048616, 8, 56 * 40), 40)
    write("tiff_strips_missing_1048616_rows.tif",
          b"II*\0" + struct.pack("<I", 8 + 56 * 40) + ramp(56 * 40) + tiff_ifd(entries, 0))
    # 8 x 4000 grey in 500 strips of 8 rows that all name the same 64 bytes:
    # 32000 bytes of rows from a file of 4 KB.
    strips = 500
    ifd = IFD0
    arrays = ifd + ifd_size(9)
    entries = [e for e in with_rows_per_strip(grey_entries(8, 4000, 0, 0), 8)
               if struct.unpack("<H", e[:2])[0] not in (273, 279)]
    entries += [tiff_entry(273, LONG, strips, arrays),
                tiff_entry(279, LONG, strips, arrays + 4 * strips)]
    write("tiff_strips_repeated_4000_rows.tif",
          b"II*\0" + struct.pack("<I", ifd) + ramp(64) + tiff_ifd(entries, 0) +
          struct.pack("<%dI" % strips, *[8] * strips) +
          struct.pack("<%dI" % strips, *[64] * strips))
    # A header claiming 100000 x 100000 grey pixels in one strip of 64 bytes.
    write("huge_100000x100000.tif",
          b"II*\0" + struct.pack("<I", IFD0) + b"\0" * 64 +
          tiff_ifd(grey_entries(100000, 100000, 8, 64), 0))


# ---------------------------------------------------------------- WebP

def riff_chunk(kind, data):
    pad = b"\0" if len(data) % 2 else b""
    return kind + struct.pack("<I", len(data)) + data + pad


def webp(chunks):
    body = b"WEBP" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def one_pixel_animation(canvas_size):
    """An animation on a square canvas with one 1 x 1 lossless frame."""
    vp8x = struct.pack("<B3x", 0x02) + (canvas_size - 1).to_bytes(3, "little") * 2
    anim = struct.pack("<IH", 0, 0)
    # A 1 x 1 lossless bitstream (one grey-brown pixel, as cwebp writes it).
    vp8l = bytes.fromhex("2f000000000750a00216a4ff8188e87f00")
    # Frame at (0, 0), 1 x 1, 100 ms, no blending.
    frame = b"\0" * 12 + (100).to_bytes(3, "little") + b"\x02"
    anmf = frame + riff_chunk(b"VP8L", vp8l)
    return webp([riff_chunk(b"VP8X", vp8x), riff_chunk(b"ANIM", anim), riff_chunk(b"ANMF", anmf)])


def make_webp_files():
    # A canvas of 100000 x 100000 (the canvas size has 24 bits): 10^10
    # pixels, beyond the 2^32 that libwebp accepts.
    write("huge_100000x100000_anim.webp", one_pixel_animation(100000))
    # A canvas of 16383 x 16383, 268 million pixels that libwebp would
    # allocate and clear (twice) around the one pixel the data paints.
    write("canvas_16383x16383_frame_1x1.webp", one_pixel_animation(16383))
    # A still lossless image of the largest size the format has, 16384 x
    # 16384, whose data stops after the header.
    header = bytes([0x2F]) + ((16384 - 1) | (16384 - 1) << 14).to_bytes(4, "little")
    write("largest_16384x16384_lossless.webp", webp([riff_chunk(b"VP8L", header + b"\0" * 8)]))


# ---------------------------------------------------------------- GIF

def lzw_gif_data(indices, min_code_size):
    """GIF LZW image data: the code size byte, sub-blocks, the terminator."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    codes, width = [], min_code_size + 1
    table, next_code = {}, end + 1
    out_bits, bit_count, out = 0, 0, bytearray()

    def emit(code):
        nonlocal out_bits, bit_count
        out_bits |= code << bit_count
        bit_count += width
        while bit_count >= 8:
            out.append(out_bits & 0xFF)
            out_bits >>= 8
            bit_count -= 8

    emit(clear)
    prefix = (indices[0],)
    for index in indices[1:]:
        longer = prefix + (index,)
        if longer in table:
            prefix = longer
            continue
        emit(table[prefix] if len(prefix) > 1 else prefix[0])
        if next_code < 4096:
            table[longer] = next_code
            next_code += 1
            if next_code > (1 << width) and width < 12:
                width += 1
        else:
            emit(clear)
            table, next_code, width = {}, end + 1, min_code_size + 1
        prefix = (index,)
    emit(table[prefix] if len(prefix) > 1 else prefix[0])
    emit(end)
    if bit_count:
        out.append(out_bits & 0xFF)
    blocks = b"".join(bytes([len(out[i:i + 255])]) + out[i:i + 255]
                      for i in range(0, len(out), 255))
    return bytes([min_code_size]) + blocks + b"\0"


def gif(screen_width, screen_height, frame_width, frame_height, image_data):
    """A GIF89a with a black and white global palette and one frame at
    (0, 0) whose image data (code size byte to terminator) is given."""
    screen = struct.pack("<HHBBB", screen_width, screen_height, 0x80, 0, 0)
    palette = b"\0\0\0\xff\xff\xff"
    descriptor = b"," + struct.pack("<HHHHB", 0, 0, frame_width, frame_height, 0)
    return b"GIF89a" + screen + palette + descriptor + image_data + b";"


def make_gif_files():
    # A 65535 x 65535 screen (4 G pixels, 17 GB drawn) around one black pixel.
    write("gif_screen_65535x65535_frame_1x1.gif",
          gif(65535, 65535, 1, 1, lzw_gif_data([0], 2)))
    # A 20000 x 20000 screen (1.6 GB drawn) around a 100 x 100 checkerboard.
    board = [(x // 10 + y // 10) % 2 for y in range(100) for x in range(100)]
    write("gif_screen_20000x20000_frame_100x100.gif",
          gif(20000, 20000, 100, 100, lzw_gif_data(board, 2)))
    # A frame as large as its 20000 x 20000 screen whose data ends after the
    # first row: a few KB, while 400 million pixels need at least 146 KB
    # (4096 pixels at most from each 12-bit code).
    row = [(x // 10) % 2 for x in range(20000)]
    write("gif_frame_20000x20000_one_row.gif",
          gif(20000, 20000, 20000, 20000, lzw_gif_data(row, 2)))


# ---------------------------------------------------------------- HEIF

def make_heif_files():
    # The test images with every image-size property ("ispe") set to 100000 x 100000.
    for source, name in (("formats/rgb8.heic", "huge_100000x100000.heic"),
                         ("formats/rgb8.avif", "huge_100000x100000.avif")):
        data = bytearray(read_data(source))
        at = data.find(b"ispe")
        assert at > 0
        while at > 0:
            # box type, version and flags (4 bytes), width, height
            data[at + 8:at + 16] = struct.pack(">II", 100000, 100000)
            at = data.find(b"ispe", at + 4)
        write(name, bytes(data))


# ---------------------------------------------------------------- JPEG

class BitWriter:
    """Entropy-coded bits, most significant first, with 0xFF bytes stuffed."""

    def __init__(self):
        self.out = bytearray()
        self.bits = 0
        self.count = 0

    def put(self, value, length):
        for i in range(length - 1, -1, -1):
            self.bits = self.bits << 1 | (value >> i) & 1
            self.count += 1
            if self.count == 8:
                self.out.append(self.bits)
                if self.bits == 0xFF:
                    self.out.append(0)
                self.bits = self.count = 0

    def finish(self):
        while self.count:
            self.put(1, 1)  # pad with ones
        return bytes(self.out)


def jpeg_segment(marker, payload):
    return bytes([0xFF, marker]) + struct.pack(">H", len(payload) + 2) + payload


def make_many_scans_jpeg():
    # A progressive 2048 x 2048 grey JPEG of 3000 scans. Each scan is the same
    # first AC band of the one component, coded as end-of-band runs over all
    # 65536 blocks in 6 bytes, so that each byte of the file costs the
    # decoder a pass over 4000 blocks: unbounded, 200 million block visits
    # from 48 KB; the number of scans is what bounds it. There is no DC scan
    # (a warning only).
    size = 2048
    scans = 3000
    blocks = (size // 8) ** 2
    dqt = jpeg_segment(0xDB, b"\x00" + b"\x01" * 64)
    sof2 = jpeg_segment(0xC2, struct.pack(">BHHB", 8, size, size, 1) + b"\x01\x11\x00")
    # AC table 0: EOB14 (symbol 0xE0) as code "0"; EOB0 to EOB13 (0x00 to
    # 0xD0) as the 5-bit codes 10000 to 11101.
    counts = bytes([1, 0, 0, 0, 14] + [0] * 11)
    symbols = bytes([0xE0] + [r << 4 for r in range(14)])
    dht = jpeg_segment(0xC4, b"\x10" + counts + symbols)
    bits = BitWriter()
    left = blocks
    while left > 0:
        run = min(left, 32767)
        r = run.bit_length() - 1  # EOBr covers 2^r plus r extra bits of blocks
        if r == 14:
            bits.put(0, 1)
        else:
            bits.put(0b10000 + r, 5)
        bits.put(run - (1 << r), r)
        left -= run
    scan_data = bits.finish()
    sos = jpeg_segment(0xDA, b"\x01\x01\x00\x01\x3F\x00")
    body = (sos + scan_data) * scans
    write("progressive_3000_scans.jpg", b"\xFF\xD8" + dqt + sof2 + dht + body + b"\xFF\xD9")


def exif_ifd(entries, next_offset):
    """A big-endian IFD of raw (tag, type, count, 4-byte field) entries."""
    return (struct.pack(">H", len(entries)) +
            b"".join(struct.pack(">HHI", t, k, c) + f for t, k, c, f in entries) +
            struct.pack(">I", next_offset))


def with_exif(tiff):
    """gradient_baseline.jpg with tiff as its Exif block, right after SOI."""
    base = read_data("codecs/gradient_baseline.jpg")
    return base[:2] + jpeg_segment(0xE1, b"Exif\0\0" + tiff) + base[2:]


def be32(value):
    return struct.pack(">I", value)


def make_exif_files():
    ascii_make = (0x010F, 2, 5, b"ACME")
    # IFD0 at 8 chains to itself; its Exif IFD pointer names IFD0, and the
    # Exif IFD's interoperability pointer and GPS pointer name IFD0 too.
    ifd0 = exif_ifd([ascii_make, (0x8769, 4, 1, be32(8)), (0x8825, 4, 1, be32(8)),
                     (0xA005, 4, 1, be32(8))], 8)
    write("exif_loops.jpg", with_exif(b"MM\0*" + be32(8) + ifd0))

    # IFD0 -> IFD1 -> IFD0, and the Exif IFD and its own Exif pointer in a
    # two-step loop.
    ifd_len = 2 + 12 * 2 + 4
    ifd1_at, exif_at = 8 + ifd_len, 8 + 2 * ifd_len
    ifd0 = exif_ifd([ascii_make, (0x8769, 4, 1, be32(exif_at))], ifd1_at)
    ifd1 = exif_ifd([ascii_make, (0x0100, 4, 1, be32(1))], 8)
    exif = exif_ifd([(0x9000, 7, 4, b"0230"), (0x8769, 4, 1, be32(exif_at))], 0)
    write("exif_chain_loop.jpg", with_exif(b"MM\0*" + be32(8) + ifd0 + ifd1 + exif))

    # Counts that no block can hold: an ASCII value of 4 G characters, a
    # LONG array of 1 G entries, a RATIONAL array, an undefined maker note,
    # all at offsets inside the block; and an IFD claiming 65535 entries.
    exif_at = 8 + 2 + 12 * 5 + 4
    ifd0 = exif_ifd([(0x010F, 2, 0xFFFFFFFF, be32(8)), (0x0111, 4, 0x40000000, be32(8)),
                     (0x011A, 5, 0x20000000, be32(8)), (0x8769, 4, 1, be32(exif_at)),
                     (0x927C, 7, 0xFFFFFFF0, be32(8))], 0)
    exif = struct.pack(">H", 0xFFFF) + struct.pack(">HHI", 0x9000, 7, 4) + b"0230"
    write("exif_huge_counts.jpg", with_exif(b"MM\0*" + be32(8) + ifd0 + exif))

    # Values, sub-IFDs and the thumbnail at offsets past the block's end.
    ifd0 = exif_ifd([(0x010F, 2, 40, be32(0xFFFFFF00)), (0x0132, 2, 20, be32(0x7FFFFFFF)),
                     (0x011A, 5, 1, be32(0xFFFFFFFC)), (0x8769, 4, 1, be32(0x00FFFFFF)),
                     (0x8825, 4, 1, be32(0xFFFFFFF8))], 0x10000)
    write("exif_offsets_past_end.jpg", with_exif(b"MM\0*" + be32(8) + ifd0))
    # IFD1 with a thumbnail of 4 GB at an offset past the end.
    ifd_len = 2 + 12 * 1 + 4
    ifd0 = exif_ifd([ascii_make], 8 + ifd_len)
    ifd1 = exif_ifd([(0x0201, 4, 1, be32(0xFFFF0000)), (0x0202, 4, 1, be32(0xFFFFFFFF))], 0)
    write("exif_thumbnail_past_end.jpg", with_exif(b"MM\0*" + be32(8) + ifd0 + ifd1))
    # IFD0 itself lies past the end of the block.
    write("exif_ifd0_past_end.jpg", with_exif(b"MM\0*" + be32(0xFFFFFFF0) + b"\0" * 8))


def main():
    make_png_files()
    make_tiff_files()
    make_webp_files()
    make_gif_files()
    make_heif_files()
    make_many_scans_jpeg()
    make_exif_files()


if __name__ == "__main__":
    main()
