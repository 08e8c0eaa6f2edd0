#include <gtest/gtest.h>

#include <tiffio.h>

#include <cstring>
#include <string>
#include <vector>

#include "codecs/format_test_util.h"
#include "codecs/tiff/tiff_codec.h"

namespace {

using test::Argb;
using test::ArgbAt;
using test::DecodeWith;
using test::EncodeWith;
using test::FormatFile;
using test::Sample16At;
using test::Span;

// A TIFF written by libtiff itself with the layout given.
struct TiffSpec {
  uint32_t width = 0, height = 0;
  uint16_t bits = 8, samples = 3, photometric = PHOTOMETRIC_RGB;
  std::vector<uint16_t> extraSamples;
  bool planar = false, tiled = false, bigEndian = false;
  uint16_t compression = COMPRESSION_NONE;
  std::vector<uint16_t> colormap;  // all reds, then greens, then blues
  std::vector<uint16_t> values;    // interleaved samples, row by row
};

// Packs the samples of one plane (or all, interleaved) of rows [y0, y0 + rows)
// and columns [x0, x0 + columns), most significant bits first.
std::vector<uint8_t> Pack(const TiffSpec& s, int plane, uint32_t x0, uint32_t y0, uint32_t columns,
                          uint32_t rows) {
  const int perPixel = s.planar ? 1 : s.samples;
  const size_t rowBytes = (size_t(columns) * perPixel * s.bits + 7) / 8;
  std::vector<uint8_t> out(rowBytes * rows, 0);
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < columns; ++c) {
      for (int i = 0; i < perPixel; ++i) {
        const uint32_t x = x0 + c, y = y0 + r;
        uint16_t v = 0;
        if (x < s.width && y < s.height) {
          v = s.values[(size_t(y) * s.width + x) * s.samples + (s.planar ? plane : i)];
        }
        const size_t index = size_t(c) * perPixel + i;
        uint8_t* row = out.data() + r * rowBytes;
        if (s.bits == 16) {
          std::memcpy(row + 2 * index, &v, 2);  // libtiff takes native order
        } else if (s.bits == 8) {
          row[index] = uint8_t(v);
        } else {
          const size_t bit = index * s.bits;
          row[bit / 8] |= uint8_t(v << (8 - s.bits - bit % 8));
        }
      }
    }
  }
  return out;
}

std::vector<uint8_t> WriteTiff(const TiffSpec& s) {
  test::TempDir dir;
  const std::string path = (dir / "t.tif").string();
  TIFF* tif = TIFFOpen(path.c_str(), s.bigEndian ? "wb" : "wl");
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, s.width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, s.height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, s.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, s.samples);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, s.photometric);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, s.compression);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, s.planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  if (!s.extraSamples.empty()) {
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(s.extraSamples.size()), s.extraSamples.data());
  }
  if (!s.colormap.empty()) {
    const size_t n = s.colormap.size() / 3;
    TIFFSetField(tif, TIFFTAG_COLORMAP, s.colormap.data(), s.colormap.data() + n,
                 s.colormap.data() + 2 * n);
  }
  const int planes = s.planar ? s.samples : 1;
  if (s.tiled) {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
    for (int p = 0; p < planes; ++p) {
      for (uint32_t y = 0; y < s.height; y += 16) {
        for (uint32_t x = 0; x < s.width; x += 16) {
          std::vector<uint8_t> tile = Pack(s, p, x, y, 16, 16);
          TIFFWriteTile(tif, tile.data(), x, y, 0, uint16_t(p));
        }
      }
    }
  } else {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 2);
    for (int p = 0; p < planes; ++p) {
      for (uint32_t y = 0; y < s.height; ++y) {
        std::vector<uint8_t> row = Pack(s, p, 0, y, s.width, 1);
        TIFFWriteScanline(tif, row.data(), y, uint16_t(p));
      }
    }
  }
  TIFFClose(tif);
  return test::ReadFileBytes(path);
}

TEST(TiffCodec, Identity) {
  EXPECT_EQ(kTiffImporter.format->subtype, FourCC("TIFF"));
  EXPECT_EQ(kTiffExporter.format->subtype, FourCC("TIFF"));
  EXPECT_EQ(DefaultExtension(*kTiffExporter.format), FourCC("tif "));
  const std::string expected = "TIFF (libtiff " + std::to_string(TIFFLIB_MAJOR_VERSION) + "." +
                               std::to_string(TIFFLIB_MINOR_VERSION) + "." +
                               std::to_string(TIFFLIB_MICRO_VERSION) + ")";
  EXPECT_EQ(kTiffImporter.name(), expected);
  EXPECT_EQ(kTiffExporter.name(), expected);
}

TEST(TiffCodec, SniffsBothByteOrdersOnly) {
  EXPECT_TRUE(kTiffImporter.sniff(Span(FormatFile("rgb8_none.tif"))));
  EXPECT_TRUE(kTiffImporter.sniff(Span(FormatFile("rgb8_lzw_bigendian.tif"))));
  EXPECT_FALSE(kTiffImporter.sniff(Span(FormatFile("rgb_lossless.webp"))));
  EXPECT_FALSE(kTiffImporter.sniff(Span(FormatFile("interlaced.gif"))));
  const std::vector<uint8_t> shortFile = {'I', 'I', 42};
  EXPECT_FALSE(kTiffImporter.sniff(Span(shortFile)));
  EXPECT_FALSE(kTiffImporter.sniff(ByteSpan()));
}

// Files written by ppm2tiff and tiffcp from ref.ppm and ref_grey.pgm, in
// every storage layout and lossless compression, give the reference exactly.
TEST(TiffCodec, CommittedLosslessFilesMatchTheirReference) {
  const test::Reference rgb = test::ReadNetpbm("ref.ppm");
  const test::Reference grey = test::ReadNetpbm("ref_grey.pgm");
  struct Case {
    const char* file;
    const test::Reference* ref;
  } cases[] = {
      {"rgb8_none.tif", &rgb},       {"rgb8_lzw_bigendian.tif", &rgb},
      {"rgb8_zip_planar.tif", &rgb}, {"rgb8_packbits_tiled.tif", &rgb},
      {"grey8.tif", &grey},          {"grey8_lzw_tiled.tif", &grey},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    test::Decoded d = DecodeWith(kTiffImporter, FormatFile(c.file), k32ARGBPixelFormat);
    ASSERT_EQ(d.err, noErr);
    EXPECT_EQ(d.header.width, 24);
    EXPECT_EQ(d.header.height, 16);
    EXPECT_EQ(d.header.preferredPixelFormat, 0u);
    EXPECT_EQ(test::Mismatches(*d.image, *c.ref), 0);
  }
}

// JPEG-in-TIFF (tiffcp -c jpeg) and a tiffmedian palette image are read as
// libtiff's own RGBA reader reads them.
TEST(TiffCodec, CommittedJpegAndPaletteFilesMatchLibtiffRgba) {
  for (const char* file : {"rgb8_jpeg.tif", "palette8.tif"}) {
    SCOPED_TRACE(file);
    test::Decoded d = DecodeWith(kTiffImporter, FormatFile(file), k32ARGBPixelFormat);
    ASSERT_EQ(d.err, noErr);
    EXPECT_EQ(d.header.preferredPixelFormat, 0u);
    TIFF* tif = TIFFOpen(test::DataPath(std::string("formats/") + file).c_str(), "r");
    ASSERT_NE(tif, nullptr);
    std::vector<uint32_t> raster(24 * 16);
    ASSERT_EQ(TIFFReadRGBAImageOriented(tif, 24, 16, raster.data(), ORIENTATION_TOPLEFT, 1), 1);
    TIFFClose(tif);
    int mismatches = 0;
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 24; ++x) {
        const uint32_t p = raster[size_t(y) * 24 + x];
        mismatches += ArgbAt(*d.image, x, y) != Argb(255, TIFFGetR(p), TIFFGetG(p), TIFFGetB(p));
      }
    }
    EXPECT_EQ(mismatches, 0);
  }
}

// ref_bilevel.pbm through ppm2tiff and tiffcp -c g4: min-is-white, 1 bit,
// black where x / 3 + y / 2 is odd.
TEST(TiffCodec, BilevelGroup4) {
  test::Decoded d = DecodeWith(kTiffImporter, FormatFile("bilevel_g4.tif"), k32ARGBPixelFormat);
  ASSERT_EQ(d.err, noErr);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 24; ++x) {
      const bool black = ((x / 3 + y / 2) & 1) != 0;
      ASSERT_EQ(ArgbAt(*d.image, x, y), black ? 0xFF000000u : 0xFFFFFFFFu) << x << "," << y;
    }
  }
}

// raw2tiff of ref16_le.raw: R = 2849 x, G = 4369 y, B = 0x1234 + 97 x y.
TEST(TiffCodec, SixteenBitRgbKeepsItsSamples) {
  std::vector<uint8_t> file = FormatFile("rgb16_zip.tif");
  test::Decoded d = DecodeWith(kTiffImporter, file, k48RGBCodecType);
  ASSERT_EQ(d.err, noErr);
  EXPECT_EQ(d.header.preferredPixelFormat, k48RGBCodecType);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 24; ++x) {
      ASSERT_EQ(Sample16At(*d.image, x, y, 0), x * 2849);
      ASSERT_EQ(Sample16At(*d.image, x, y, 1), y * 4369);
      ASSERT_EQ(Sample16At(*d.image, x, y, 2), (0x1234 + x * y * 97) & 0xFFFF);
    }
  }
  // Into 32-bit ARGB, rounded: 23 * 2849 = 65527 -> 255, 4369 -> 17.
  test::Decoded argb = DecodeWith(kTiffImporter, file, k32ARGBPixelFormat);
  ASSERT_EQ(argb.err, noErr);
  EXPECT_EQ(ArgbAt(*argb.image, 23, 1) & 0xFFFFFF00u, Argb(255, 255, 17, 0));
}

TEST(TiffCodec, AlphaAssociatedIsStraightenedUnassociatedKept) {
  TiffSpec s;
  s.width = 3;
  s.height = 1;
  s.samples = 4;
  s.values = {100, 50, 25, 128, 200, 100, 50, 0, 255, 255, 255, 255};
  s.extraSamples = {EXTRASAMPLE_UNASSALPHA};
  test::Decoded straight = DecodeWith(kTiffImporter, WriteTiff(s), k32ARGBPixelFormat);
  ASSERT_EQ(straight.err, noErr);
  EXPECT_EQ(straight.header.preferredPixelFormat, 0u);
  EXPECT_EQ(ArgbAt(*straight.image, 0, 0), Argb(128, 100, 50, 25));
  EXPECT_EQ(ArgbAt(*straight.image, 1, 0), Argb(0, 200, 100, 50));

  s.extraSamples = {EXTRASAMPLE_ASSOCALPHA};
  s.compression = COMPRESSION_LZW;
  test::Decoded premultiplied = DecodeWith(kTiffImporter, WriteTiff(s), k32ARGBPixelFormat);
  ASSERT_EQ(premultiplied.err, noErr);
  // 100 / 128 * 255 = 199.2, 50 / 128 * 255 = 99.6, 25 / 128 * 255 = 49.8.
  EXPECT_EQ(ArgbAt(*premultiplied.image, 0, 0), Argb(128, 199, 100, 50));
  EXPECT_EQ(ArgbAt(*premultiplied.image, 1, 0), 0u);
  EXPECT_EQ(ArgbAt(*premultiplied.image, 2, 0), 0xFFFFFFFFu);
}

// 16-bit RGBA and grey with alpha, stored big-endian in planes and tiles.
TEST(TiffCodec, SixteenBitAlphaPlanarTiledBigEndian) {
  TiffSpec s;
  s.width = 20;
  s.height = 18;  // two tiles each way, partly outside the image
  s.bits = 16;
  s.samples = 4;
  s.planar = true;
  s.tiled = true;
  s.bigEndian = true;
  s.compression = COMPRESSION_ADOBE_DEFLATE;
  s.extraSamples = {EXTRASAMPLE_UNASSALPHA};
  for (uint32_t i = 0; i < s.width * s.height; ++i) {
    s.values.insert(s.values.end(), {uint16_t(i * 181), uint16_t(i * 7 + 1), uint16_t(65535 - i),
                                     uint16_t(i * 100)});
  }
  test::Decoded d = DecodeWith(kTiffImporter, WriteTiff(s), k64ARGBPixelFormat);
  ASSERT_EQ(d.err, noErr);
  EXPECT_EQ(d.header.preferredPixelFormat, k64ARGBPixelFormat);
  for (uint32_t y = 0; y < s.height; ++y) {
    for (uint32_t x = 0; x < s.width; ++x) {
      const uint16_t* v = &s.values[(y * s.width + x) * 4];
      ASSERT_EQ(Sample16At(*d.image, x, y, 0), v[3]);
      ASSERT_EQ(Sample16At(*d.image, x, y, 1), v[0]);
      ASSERT_EQ(Sample16At(*d.image, x, y, 2), v[1]);
      ASSERT_EQ(Sample16At(*d.image, x, y, 3), v[2]);
    }
  }

  TiffSpec g;
  g.width = 2;
  g.height = 1;
  g.bits = 16;
  g.samples = 2;
  g.photometric = PHOTOMETRIC_MINISBLACK;
  g.extraSamples = {EXTRASAMPLE_UNASSALPHA};
  g.values = {1000, 60000, 65535, 1};
  test::Decoded grey = DecodeWith(kTiffImporter, WriteTiff(g), k64ARGBPixelFormat);
  ASSERT_EQ(grey.err, noErr);
  EXPECT_EQ(grey.header.preferredPixelFormat, k32AlphaGrayCodecType);
  EXPECT_EQ(Sample16At(*grey.image, 0, 0, 0), 60000);
  EXPECT_EQ(Sample16At(*grey.image, 0, 0, 2), 1000);
  EXPECT_EQ(Sample16At(*grey.image, 1, 0, 0), 1);
  EXPECT_EQ(Sample16At(*grey.image, 1, 0, 3), 65535);

  g.samples = 1;
  g.extraSamples.clear();
  g.values = {1000, 65535};
  test::Decoded plain = DecodeWith(kTiffImporter, WriteTiff(g), k48RGBCodecType);
  ASSERT_EQ(plain.err, noErr);
  EXPECT_EQ(plain.header.preferredPixelFormat, k16GrayCodecType);
  EXPECT_EQ(Sample16At(*plain.image, 0, 0, 1), 1000);
}

TEST(TiffCodec, CmykPaletteAndMinIsWhite) {
  TiffSpec cmyk;
  cmyk.width = 4;
  cmyk.height = 1;
  cmyk.samples = 4;
  cmyk.photometric = PHOTOMETRIC_SEPARATED;
  cmyk.values = {255, 0, 0, 0, 0, 0, 0, 255, 128, 0, 0, 128, 0, 0, 0, 0};
  test::Decoded c = DecodeWith(kTiffImporter, WriteTiff(cmyk), k32ARGBPixelFormat);
  ASSERT_EQ(c.err, noErr);
  EXPECT_EQ(ArgbAt(*c.image, 0, 0), Argb(255, 0, 255, 255));  // cyan ink
  EXPECT_EQ(ArgbAt(*c.image, 1, 0), Argb(255, 0, 0, 0));      // full black ink
  // (255 - 128) (255 - 128) / 255 = 63.25; (255 - 128) = 127 for M and Y.
  EXPECT_EQ(ArgbAt(*c.image, 2, 0), Argb(255, 63, 127, 127));
  EXPECT_EQ(ArgbAt(*c.image, 3, 0), 0xFFFFFFFFu);

  TiffSpec palette;
  palette.width = 3;
  palette.height = 1;
  palette.bits = 4;
  palette.samples = 1;
  palette.photometric = PHOTOMETRIC_PALETTE;
  palette.colormap.assign(48, 0);
  palette.colormap[2] = 0xFFFF;        // entry 2: red
  palette.colormap[16 + 15] = 0x8080;  // entry 15: green 0x80
  palette.colormap[32 + 15] = 0x1010;  // and blue 0x10
  palette.values = {2, 15, 0};
  test::Decoded p = DecodeWith(kTiffImporter, WriteTiff(palette), k32ARGBPixelFormat);
  ASSERT_EQ(p.err, noErr);
  EXPECT_EQ(p.header.preferredPixelFormat, 0u);
  EXPECT_EQ(ArgbAt(*p.image, 0, 0), Argb(255, 255, 0, 0));
  EXPECT_EQ(ArgbAt(*p.image, 1, 0), Argb(255, 0, 0x80, 0x10));
  EXPECT_EQ(ArgbAt(*p.image, 2, 0), Argb(255, 0, 0, 0));

  TiffSpec white;
  white.width = 3;
  white.height = 1;
  white.bits = 2;
  white.samples = 1;
  white.photometric = PHOTOMETRIC_MINISWHITE;
  white.values = {0, 1, 3};
  test::Decoded w = DecodeWith(kTiffImporter, WriteTiff(white), k32ARGBPixelFormat);
  ASSERT_EQ(w.err, noErr);
  EXPECT_EQ(ArgbAt(*w.image, 0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(ArgbAt(*w.image, 1, 0), Argb(255, 170, 170, 170));
  EXPECT_EQ(ArgbAt(*w.image, 2, 0), Argb(255, 0, 0, 0));
}

// What libtiff itself reads back from one of our files.
struct Written {
  uint32_t width = 0, height = 0;
  uint16_t bits = 0, samples = 0, compression = 0, predictor = 0, photometric = 0;
  uint16_t extraCount = 0;
};

Written Inspect(const std::vector<uint8_t>& file) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "w.tif", file);
  Written w;
  TIFF* tif = TIFFOpen((dir / "w.tif").c_str(), "r");
  if (tif == nullptr) return w;
  uint16_t* extra = nullptr;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &w.height);
  TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &w.bits);
  TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &w.samples);
  TIFFGetField(tif, TIFFTAG_COMPRESSION, &w.compression);
  TIFFGetField(tif, TIFFTAG_PREDICTOR, &w.predictor);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &w.photometric);
  TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &w.extraCount, &extra);
  TIFFClose(tif);
  return w;
}

TEST(TiffCodec, EightBitRoundTrips) {
  test::OwnedGWorld source = test::MakeTestPicture(37, 21, /*varyAlpha=*/true);
  for (int32_t depth : {24, 32}) {
    SCOPED_TRACE(depth);
    OSErr err = 1;
    std::vector<uint8_t> file = EncodeWith(kTiffExporter, *source, 512, depth, &err);
    ASSERT_EQ(err, noErr);
    const Written w = Inspect(file);
    EXPECT_EQ(w.width, 37u);
    EXPECT_EQ(w.bits, 8);
    EXPECT_EQ(w.samples, depth == 32 ? 4 : 3);
    EXPECT_EQ(w.compression, COMPRESSION_ADOBE_DEFLATE);
    EXPECT_EQ(w.predictor, PREDICTOR_HORIZONTAL);
    EXPECT_EQ(w.extraCount, depth == 32 ? 1 : 0);
    test::Decoded d = DecodeWith(kTiffImporter, file, k32ARGBPixelFormat);
    ASSERT_EQ(d.err, noErr);
    EXPECT_EQ(d.header.preferredPixelFormat, 0u);
    int mismatches = 0;
    for (int y = 0; y < 21; ++y) {
      for (int x = 0; x < 37; ++x) {
        const uint32_t want = ArgbAt(*source, x, y) | (depth == 32 ? 0 : 0xFF000000u);
        mismatches += ArgbAt(*d.image, x, y) != want;
      }
    }
    EXPECT_EQ(mismatches, 0);
  }

  test::OwnedGWorld red = test::MakeGWorld(k32ARGBPixelFormat, 2, 1);
  test::SetArgb(*red, 0, 0, 0xFFFF0000u);
  test::SetArgb(*red, 1, 0, 0xFF0000FFu);
  std::vector<uint8_t> grey = EncodeWith(kTiffExporter, *red, 512, 40);
  EXPECT_EQ(Inspect(grey).photometric, PHOTOMETRIC_MINISBLACK);
  test::Decoded g = DecodeWith(kTiffImporter, grey, k32ARGBPixelFormat);
  ASSERT_EQ(g.err, noErr);
  EXPECT_EQ(ArgbAt(*g.image, 0, 0), Argb(255, 76, 76, 76));  // 0.299 * 255
  EXPECT_EQ(ArgbAt(*g.image, 1, 0), Argb(255, 29, 29, 29));  // 0.114 * 255
}

TEST(TiffCodec, SixteenBitRoundTrips) {
  for (OSType format : {k48RGBCodecType, k64ARGBPixelFormat}) {
    const int channels = format == k48RGBCodecType ? 3 : 4;
    test::OwnedGWorld source = test::MakeGWorld(format, 19, 23);
    for (int y = 0; y < 23; ++y) {
      for (int x = 0; x < 19; ++x) {
        for (int c = 0; c < channels; ++c) {
          test::SetSample16(*source, x, y, c, uint16_t(x * 3001 + y * 2711 + c * 12345 + 7));
        }
      }
    }
    const int32_t depth = format == k48RGBCodecType ? 24 : 32;
    OSErr err = 1;
    std::vector<uint8_t> file = EncodeWith(kTiffExporter, *source, 0, depth, &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(Inspect(file).bits, 16);
    test::Decoded d = DecodeWith(kTiffImporter, file, format);
    ASSERT_EQ(d.err, noErr);
    EXPECT_EQ(d.header.preferredPixelFormat, format);
    int mismatches = 0;
    for (int y = 0; y < 23; ++y) {
      for (int x = 0; x < 19; ++x) {
        for (int c = 0; c < channels; ++c) {
          mismatches += Sample16At(*d.image, x, y, c) != Sample16At(*source, x, y, c);
        }
      }
    }
    EXPECT_EQ(mismatches, 0);
  }
}

TEST(TiffCodec, DamagedFilesFailCleanlyAndSilently) {
  test::OwnedGWorld source = test::MakeTestPicture(64, 64);
  const std::vector<uint8_t> whole = EncodeWith(kTiffExporter, *source, 512, 24);
  // The directory comes last in libtiff's files: any cut loses it.
  std::vector<uint8_t> damagedStrip = FormatFile("rgb8_lzw_bigendian.tif");
  for (size_t i = 20; i < 400; ++i) damagedStrip[i] ^= 0x5A;
  std::vector<uint8_t> cutStrips = FormatFile("rgb8_none.tif");
  std::memset(cutStrips.data() + 8, 0, 16);  // keeps IFD after the pixels

  const std::string printed = test::StderrOf([&] {
    ImageHeader header;
    for (double fraction : {0.0, 0.3, 0.9}) {
      EXPECT_EQ(kTiffImporter.readHeader(Span(test::Truncated(whole, fraction)), &header),
                codecErr);
    }
    test::Decoded d = DecodeWith(kTiffImporter, damagedStrip, k32ARGBPixelFormat);
    EXPECT_NE(d.err, noErr);
    // A file whose strips point beyond its end.
    std::vector<uint8_t> shortened = FormatFile("rgb8_none.tif");
    shortened.erase(shortened.begin() + 8, shortened.begin() + 8 + 24 * 16 * 3);
    EXPECT_NE(DecodeWith(kTiffImporter, shortened, k32ARGBPixelFormat).err, noErr);
  });
  EXPECT_EQ(printed, "");
}

// A width too large for any buffer row is refused before anything is had.
TEST(TiffCodec, HugeDimensionsAnswerMemFull) {
  TiffSpec s;
  s.width = 2;
  s.height = 1;
  s.bits = 8;
  s.samples = 1;
  s.photometric = PHOTOMETRIC_MINISBLACK;
  s.values = {1, 2};
  std::vector<uint8_t> file = WriteTiff(s);  // little-endian, classic
  uint32_t ifd;
  std::memcpy(&ifd, file.data() + 4, 4);
  uint16_t entries;
  std::memcpy(&entries, file.data() + ifd, 2);
  for (uint16_t i = 0; i < entries; ++i) {
    uint8_t* entry = file.data() + ifd + 2 + 12 * i;
    uint16_t tag;
    std::memcpy(&tag, entry, 2);
    if (tag != TIFFTAG_IMAGEWIDTH) continue;
    const uint16_t longType = TIFF_LONG;
    const uint32_t width = 300000000;
    std::memcpy(entry + 2, &longType, 2);
    std::memcpy(entry + 8, &width, 4);
  }
  ImageHeader header;
  EXPECT_EQ(kTiffImporter.readHeader(Span(file), &header), memFullErr);
}

}  // namespace
