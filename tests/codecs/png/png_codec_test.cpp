#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>

#include "codecs/codec_test_util.h"
#include "platform/codec.h"
#include "test_support.h"

namespace {

using test::Argb;
using test::ArgbAt;
using test::DecodeWith;
using test::EncodeWith;
using test::Sample16At;

const ImporterCodec& PngImporter() {
  return *ImporterCodecs().at(1);
}
const ExporterCodec& PngExporter() {
  return *ExporterCodecs().at(1);
}

ByteSpan Span(const std::vector<uint8_t>& v) {
  return ByteSpan(v.data(), v.size());
}

std::vector<uint8_t> Suite(const std::string& name) {
  return test::ReadFileBytes(test::DataPath("pngsuite/" + name + ".png"));
}

uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// The zlib stream of a file's image data chunks.
std::vector<uint8_t> ImageData(const std::vector<uint8_t>& png) {
  std::vector<uint8_t> data;
  for (size_t at = 8; at + 12 <= png.size(); at += 12 + BigEndian32(&png[at])) {
    const size_t length = BigEndian32(&png[at]);
    if (std::equal(&png[at + 4], &png[at + 8], "IDAT")) {
      data.insert(data.end(), &png[at + 8], &png[at + 8 + length]);
    }
  }
  return data;
}

// png with its image data replaced by data, in chunks of the given sizes
// and the rest in one last chunk.
std::vector<uint8_t> WithImageData(const std::vector<uint8_t>& png,
                                   const std::vector<uint8_t>& data, std::vector<size_t> sizes) {
  std::vector<uint8_t> out(png.begin(), png.begin() + 8);
  size_t used = 0;
  sizes.push_back(data.size());
  for (size_t at = 8; at + 12 <= png.size(); at += 12 + BigEndian32(&png[at])) {
    const size_t length = BigEndian32(&png[at]);
    if (!std::equal(&png[at + 4], &png[at + 8], "IDAT")) {
      out.insert(out.end(), &png[at], &png[at + 12 + length]);
      continue;
    }
    for (size_t size : sizes) {
      if (used == data.size()) break;
      size = std::min(size, data.size() - used);
      std::vector<uint8_t> chunk = {uint8_t(size >> 24),
                                    uint8_t(size >> 16),
                                    uint8_t(size >> 8),
                                    uint8_t(size),
                                    'I',
                                    'D',
                                    'A',
                                    'T'};
      chunk.insert(chunk.end(), &data[used], &data[used] + size);
      const uint32_t crc = uint32_t(crc32(0, &chunk[4], uInt(size + 4)));
      for (int shift : {24, 16, 8, 0}) chunk.push_back(uint8_t(crc >> shift));
      out.insert(out.end(), chunk.begin(), chunk.end());
      used += size;
    }
  }
  return out;
}

// Bit depth and colour type straight from the IHDR chunk, which the format
// fixes at bytes 24 and 25.
std::pair<int, int> IhdrDepthAndType(const std::vector<uint8_t>& png) {
  if (png.size() < 26) return {-1, -1};
  return {png[24], png[25]};
}

TEST(PngCodec, Identity) {
  EXPECT_EQ(PngImporter().format->subtype, FourCC("PNG "));
  EXPECT_EQ(PngExporter().format->subtype, FourCC("PNG "));
  EXPECT_EQ(DefaultExtension(*PngExporter().format), FourCC("png "));
  EXPECT_EQ(PngExporter().name(), std::string("PNG (libpng ") + PNG_LIBPNG_VER_STRING + ")");
}

// Every export layout, read back through the format it prefers.
TEST(PngCodec, RoundTripsAreExact) {
  struct Case {
    OSType source;
    int32_t depth;
    int pngDepth, pngType;
    OSType preferred;  // what the written file asks to be read into
    OSType drawAs;
  } cases[] = {
      {k32ARGBPixelFormat, 24, 8, PNG_COLOR_TYPE_RGB, 0, k32ARGBPixelFormat},
      {k32ARGBPixelFormat, 32, 8, PNG_COLOR_TYPE_RGB_ALPHA, 0, k32ARGBPixelFormat},
      {k48RGBCodecType, 24, 16, PNG_COLOR_TYPE_RGB, k48RGBCodecType, k48RGBCodecType},
      {k64ARGBPixelFormat, 32, 16, PNG_COLOR_TYPE_RGB_ALPHA, k64ARGBPixelFormat,
       k64ARGBPixelFormat},
      {k64ARGBPixelFormat, 24, 16, PNG_COLOR_TYPE_RGB, k48RGBCodecType, k48RGBCodecType},
      {k48RGBCodecType, 32, 16, PNG_COLOR_TYPE_RGB_ALPHA, k64ARGBPixelFormat, k64ARGBPixelFormat},
  };
  const int w = 23, h = 7;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.source << " depth " << c.depth);
    test::OwnedGWorld source = test::MakeGWorld(c.source, w, h);
    const int samples = source->pixMap.pixelSize / 16;  // 16-bit formats
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        if (c.source == k32ARGBPixelFormat) {
          test::SetArgb(*source, x, y, Argb((x * 11 + y) & 0xFF, x * 10, y * 30, (x ^ y) * 7));
        } else {
          for (int i = 0; i < samples; ++i) {
            test::SetSample16(*source, x, y, i, uint16_t(x * 2801 + y * 977 + i * 12345));
          }
        }
      }
    }
    OSErr err = 1;
    std::vector<uint8_t> png = EncodeWith(PngExporter(), *source, 512, c.depth, &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(IhdrDepthAndType(png), std::make_pair(c.pngDepth, c.pngType));
    test::Decoded d = DecodeWith(PngImporter(), png, c.drawAs);
    ASSERT_EQ(d.err, noErr);
    EXPECT_EQ(d.header.width, w);
    EXPECT_EQ(d.header.height, h);
    EXPECT_EQ(d.header.preferredPixelFormat, c.preferred);
    int mismatches = 0;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        if (c.source == k32ARGBPixelFormat) {
          uint32_t want = ArgbAt(*source, x, y);
          if (c.depth == 24) want |= 0xFF000000u;
          mismatches += ArgbAt(*d.image, x, y) != want;
        } else if (c.drawAs == k48RGBCodecType) {  // the colour samples, alpha dropped
          const int first = c.source == k64ARGBPixelFormat ? 1 : 0;
          for (int i = 0; i < 3; ++i) {
            mismatches += Sample16At(*d.image, x, y, i) != Sample16At(*source, x, y, first + i);
          }
        } else {  // "b64a": opaque when the source had no alpha
          const bool hadAlpha = c.source == k64ARGBPixelFormat;
          mismatches +=
              Sample16At(*d.image, x, y, 0) != (hadAlpha ? Sample16At(*source, x, y, 0) : 0xFFFF);
          for (int i = 0; i < 3; ++i) {
            mismatches += Sample16At(*d.image, x, y, 1 + i) !=
                          Sample16At(*source, x, y, (hadAlpha ? 1 : 0) + i);
          }
        }
      }
    }
    EXPECT_EQ(mismatches, 0);
  }
}

// Image data of several megabytes is compressed in strips on two threads,
// each strip looking back into the one before. Rows repeat at distances
// that cross the strips' seams, so a wrong window would corrupt them; noise
// and smooth rows make every filter win somewhere.
TEST(PngCodec, LargeImagesStayExactAcrossCompressedStrips) {
  struct Case {
    OSType format;
    int32_t width, height, depth;
    int kind = -1;  // every row of one kind; by default all three in turn
  } cases[] = {
      {k64ARGBPixelFormat, 700, 900, 32},  // 5 MB of rows: an odd number of strips
      {k48RGBCodecType, 1000, 700, 24},
      {k32ARGBPixelFormat, 1500, 1200, 24},
      {k32ARGBPixelFormat, 1, 1, 8},
      {k48RGBCodecType, 1000, 700, 24, 0},     // noise: ISA-L's strips
      {k32ARGBPixelFormat, 1500, 800, 24, 1},  // smooth: libdeflate's, joined
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " depth " << c.depth);
    test::OwnedGWorld source = test::MakeGWorld(c.format, c.width, c.height);
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    for (int y = 0; y < c.height; ++y) {
      // Noise, a smooth ramp, or a repeat of an earlier row.
      const int kind = c.kind >= 0 ? c.kind : (y / 37) % 3;
      for (int x = 0; x < c.width; ++x) {
        const int from = std::max(0, y - 211);
        if (c.format == k32ARGBPixelFormat) {
          const uint32_t v = kind == 0   ? next() >> 8
                             : kind == 1 ? uint32_t(x * 3 + y) * 0x010101u
                                         : test::ArgbAt(*source, x, from);
          test::SetArgb(*source, x, y, 0xFF000000u | v);
        } else {
          for (int i = 0; i < source->pixMap.pixelSize / 16; ++i) {
            const uint16_t v = kind == 0   ? uint16_t(next() >> 16)
                               : kind == 1 ? uint16_t(x * 97 + y * 13 + i)
                                           : test::Sample16At(*source, x, from, i);
            test::SetSample16(*source, x, y, i, v);
          }
        }
      }
    }
    OSErr err = 1;
    std::vector<uint8_t> png = EncodeWith(PngExporter(), *source, 768, c.depth, &err);
    ASSERT_EQ(err, noErr);
    // zlib reads the strips as one stream, Adler-32 and all.
    const std::vector<uint8_t> data = ImageData(png);
    const int64_t channels = c.depth == 8 ? 1 : c.depth == 32 ? 4 : 3;
    const int64_t filtered =
        c.height * (1 + c.width * channels * (c.format == k32ARGBPixelFormat ? 1 : 2));
    std::vector<uint8_t> rows(size_t(filtered) + 1);
    uLongf rowBytes = uLongf(rows.size());
    EXPECT_EQ(uncompress(rows.data(), &rowBytes, data.data(), uLong(data.size())), Z_OK);
    EXPECT_EQ(int64_t(rowBytes), filtered);
    test::Decoded d = DecodeWith(PngImporter(), png, c.format);
    ASSERT_EQ(d.err, noErr);
    int64_t mismatches = 0;
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width; ++x) {
        if (c.format == k32ARGBPixelFormat) {
          const uint32_t want = ArgbAt(*source, x, y);
          const uint32_t got = ArgbAt(*d.image, x, y);
          // Depth 8 is grey: equal channels.
          mismatches += c.depth == 8 ? ((got >> 8) & 0xFF) != (got & 0xFF) : got != want;
        } else {
          for (int i = 0; i < source->pixMap.pixelSize / 16; ++i) {
            mismatches += Sample16At(*d.image, x, y, i) != Sample16At(*source, x, y, i);
          }
        }
      }
    }
    EXPECT_EQ(mismatches, 0);
  }
}

// Grey uses the BT.601 weights: red 0.299, green 0.587, blue 0.114.
TEST(PngCodec, GreyDepthsWriteLuma) {
  test::OwnedGWorld source = test::MakeGWorld(k32ARGBPixelFormat, 5, 1);
  const uint32_t colours[] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFF808080u, 0x00FFFFFFu};
  const int lumas[] = {76, 150, 29, 128, 255};
  for (int x = 0; x < 5; ++x) test::SetArgb(*source, x, 0, colours[x]);
  for (int32_t depth : {8, 40}) {
    std::vector<uint8_t> png = EncodeWith(PngExporter(), *source, 0, depth);
    EXPECT_EQ(IhdrDepthAndType(png), std::make_pair(8, int(PNG_COLOR_TYPE_GRAY)));
    test::Decoded d = DecodeWith(PngImporter(), png, k32ARGBPixelFormat);
    ASSERT_EQ(d.err, noErr);
    for (int x = 0; x < 5; ++x) {
      uint32_t v = uint32_t(lumas[x]);
      EXPECT_EQ(ArgbAt(*d.image, x, 0), Argb(255, v, v, v)) << x;
    }
  }
}

// 16 to 8 bits rounds to nearest: 0x00FF is 0.99 (1), 0xFF00 is 254.01 (254);
// taking the high byte would give 0 and 255.
TEST(PngCodec, SixteenToEightRoundsToNearest) {
  test::OwnedGWorld source = test::MakeGWorld(k64ARGBPixelFormat, 3, 1);
  const uint16_t values[] = {0x00FF, 0xFF00, 0x8080};
  const uint32_t expected[] = {1, 254, 128};
  for (int x = 0; x < 3; ++x) {
    for (int i = 0; i < 4; ++i) test::SetSample16(*source, x, 0, i, values[x]);
  }
  std::vector<uint8_t> grey = EncodeWith(PngExporter(), *source, 0, 40);
  std::vector<uint8_t> deep = EncodeWith(PngExporter(), *source, 0, 32);
  test::Decoded fromGrey = DecodeWith(PngImporter(), grey, k32ARGBPixelFormat);
  test::Decoded fromDeep = DecodeWith(PngImporter(), deep, k32ARGBPixelFormat);  // the fallback
  ASSERT_EQ(fromGrey.err, noErr);
  ASSERT_EQ(fromDeep.err, noErr);
  for (int x = 0; x < 3; ++x) {
    uint32_t v = expected[x];
    EXPECT_EQ(ArgbAt(*fromGrey.image, x, 0), Argb(255, v, v, v)) << x;
    EXPECT_EQ(ArgbAt(*fromDeep.image, x, 0), Argb(v, v, v, v)) << x;
  }
}

int ExpectedSuiteSide(const std::string& name, bool width) {
  if (name.rfind("cdf", 0) == 0) return width ? 8 : 32;
  if (name.rfind("cdh", 0) == 0) return width ? 32 : 8;
  if (name.rfind("cds", 0) == 0) return 8;
  if (name[0] == 's' && std::isdigit(uint8_t(name[1]))) return std::stoi(name.substr(1, 2));
  return 32;
}

// Every good file imports at its size in every buffer format; every broken
// one ("x" files) is refused with a code, never a crash.
TEST(PngCodec, EveryPngSuiteFile) {
  int good = 0, broken = 0;
  for (const auto& entry : std::filesystem::directory_iterator(test::DataPath("pngsuite"))) {
    if (entry.path().extension() != ".png") continue;
    const std::string name = entry.path().stem().string();
    SCOPED_TRACE(name);
    std::vector<uint8_t> file = test::ReadFileBytes(entry.path());
    if (name[0] == 'x') {
      ++broken;
      if (!PngImporter().sniff(Span(file))) continue;  // not even a PNG signature
      for (OSType format : {k32ARGBPixelFormat, k48RGBCodecType, k64ARGBPixelFormat}) {
        EXPECT_EQ(DecodeWith(PngImporter(), file, format).err, codecErr);
      }
      continue;
    }
    ++good;
    ASSERT_TRUE(PngImporter().sniff(Span(file)));
    for (OSType format : {k32ARGBPixelFormat, k48RGBCodecType, k64ARGBPixelFormat}) {
      test::Decoded d = DecodeWith(PngImporter(), file, format);
      ASSERT_EQ(d.err, noErr) << format;
      EXPECT_EQ(d.header.width, ExpectedSuiteSide(name, true));
      EXPECT_EQ(d.header.height, ExpectedSuiteSide(name, false));
    }
  }
  EXPECT_GE(good, 150);
  EXPECT_EQ(broken, 14);
}

// Pixel values as a separate PNG decoder reads them.
TEST(PngCodec, PngSuitePixels) {
  struct Spot {
    const char* file;
    int x, y;
    uint32_t argb;
  } spots[] = {
      {"basn0g01", 0, 0, 0xFFFFFFFFu},
      {"basn0g01", 31, 0, 0xFF000000u},
      {"basn0g04", 31, 0, 0xFF777777u},
      {"basn0g04", 5, 7, 0xFF222222u},
      {"basn0g08", 31, 0, 0xFF1F1F1Fu},
      {"basn0g08", 5, 7, 0xFFE5E5E5u},
      {"basn0g08", 20, 13, 0xFF4A4A4Au},
      {"basn2c08", 20, 13, 0xFFFF4BFFu},
      {"basn3p02", 20, 13, 0xFFFFFF00u},
      {"basn3p04", 31, 0, 0xFF00FF99u},
      {"basn3p04", 31, 31, 0xFFFF00BBu},
      {"basn3p04", 5, 7, 0xFFFFBB00u},
      {"basn4a08", 5, 7, 0x29C5C5C5u},
      {"basn6a08", 20, 13, 0xA460FF05u},
      // 16 bits rounded to 8: 15872 / 257 = 61.8, 255 / 257 = 0.99.
      {"basn0g16", 0, 31, 0xFF3E3E3Eu},
      {"basn0g16", 31, 31, 0xFF010101u},
      {"basn2c16", 20, 13, 0xFF5A9410u},  // 23254, 38053, 4228
      // A transparent colour (tRNS) becomes alpha 0.
      {"tbrn2c08", 0, 0, 0x00FFFFFFu},
      {"tbrn2c08", 5, 7, 0xFF757575u},
      {"tbbn2c16", 0, 0, 0x00FFFFFFu},
      {"tbbn2c16", 5, 7, 0xFF757575u},
  };
  for (const Spot& s : spots) {
    SCOPED_TRACE(testing::Message() << s.file << " " << s.x << "," << s.y);
    test::Decoded d = DecodeWith(PngImporter(), Suite(s.file), k32ARGBPixelFormat);
    ASSERT_EQ(d.err, noErr);
    EXPECT_EQ(ArgbAt(*d.image, s.x, s.y), s.argb);
  }
}

TEST(PngCodec, SixteenBitFilesKeepTheirSamples) {
  struct Case {
    const char* file;
    OSType preferred;
    int x, y;
    uint16_t samples[4];  // as drawn into the preferred format
  } cases[] = {
      {"basn2c16", k48RGBCodecType, 20, 13, {23254, 38053, 4228}},
      {"basn0g16", k16GrayCodecType, 31, 0, {47871, 47871, 47871}},
      {"basn6a16", k64ARGBPixelFormat, 20, 13, {46509, 0, 50971, 14563}},
      {"basn4a16", k32AlphaGrayCodecType, 5, 7, {21141, 12482, 12482, 12482}},
      {"tbbn2c16", k64ARGBPixelFormat, 0, 0, {0, 65535, 65535, 65535}},
      {"tbwn0g16", k32AlphaGrayCodecType, 5, 7, {65535, 30069, 30069, 30069}},
      {"basn2c08", 0, 0, 0, {0, 0, 0, 0}},
      {"basn3p04", 0, 0, 0, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::vector<uint8_t> file = Suite(c.file);
    ImageHeader header;
    ASSERT_EQ(PngImporter().readHeader(Span(file), &header), noErr);
    EXPECT_EQ(header.preferredPixelFormat, c.preferred);
    if (c.preferred == 0) continue;
    const bool alpha = c.preferred == k64ARGBPixelFormat || c.preferred == k32AlphaGrayCodecType;
    test::Decoded d = DecodeWith(PngImporter(), file, alpha ? k64ARGBPixelFormat : k48RGBCodecType);
    ASSERT_EQ(d.err, noErr);
    for (int i = 0; i < (alpha ? 4 : 3); ++i) {
      EXPECT_EQ(Sample16At(*d.image, c.x, c.y, i), c.samples[i]) << i;
    }
  }
}

// An 8-bit file drawn into 16-bit buffers is widened exactly (v * 257).
TEST(PngCodec, EightBitFilesDrawIntoSixteenBitBuffers) {
  test::Decoded d = DecodeWith(PngImporter(), Suite("basn3p04"), k64ARGBPixelFormat);
  ASSERT_EQ(d.err, noErr);
  const uint16_t want[] = {0xFFFF, 0x0000, 0xFFFF, 0x9999};  // 0, 255, 153 opaque
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Sample16At(*d.image, 31, 0, i), want[i]);
  d = DecodeWith(PngImporter(), Suite("basn0g08"), k48RGBCodecType);
  ASSERT_EQ(d.err, noErr);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Sample16At(*d.image, 5, 7, i), 229 * 257);
}

TEST(PngCodec, InterlacedFilesMatchTheirPlainTwins) {
  for (const char* kind : {"0g01", "0g02", "0g04", "0g08", "0g16", "2c08", "2c16", "3p01", "3p02",
                           "3p04", "3p08", "4a08", "4a16", "6a08", "6a16"}) {
    SCOPED_TRACE(kind);
    for (OSType format : {k32ARGBPixelFormat, k64ARGBPixelFormat}) {
      test::Decoded plain = DecodeWith(PngImporter(), Suite(std::string("basn") + kind), format);
      test::Decoded laced = DecodeWith(PngImporter(), Suite(std::string("basi") + kind), format);
      ASSERT_EQ(plain.err, noErr);
      ASSERT_EQ(laced.err, noErr);
      const size_t bytes = size_t(plain.image->pixMap.rowBytes) * 32;
      EXPECT_EQ(std::memcmp(plain.image->pixMap.baseAddr, laced.image->pixMap.baseAddr, bytes), 0);
    }
  }
}

TEST(PngCodec, DamagedFilesFailCleanly) {
  std::vector<uint8_t> good = Suite("basn2c08");
  // Cut inside the image data: the header reads, the pixels do not.
  std::vector<uint8_t> cut(good.begin(), good.begin() + good.size() / 2);
  ImageHeader header;
  EXPECT_EQ(PngImporter().readHeader(Span(cut), &header), noErr);
  EXPECT_EQ(DecodeWith(PngImporter(), cut, k32ARGBPixelFormat).err, codecErr);
  // Signature and part of the header only.
  std::vector<uint8_t> stub(good.begin(), good.begin() + 20);
  EXPECT_EQ(PngImporter().readHeader(Span(stub), &header), codecErr);
  // A flipped bit in the image data breaks its checksum.
  std::vector<uint8_t> flipped = good;
  flipped[good.size() / 2] ^= 0x10;
  EXPECT_EQ(DecodeWith(PngImporter(), flipped, k32ARGBPixelFormat).err, codecErr);
}

// The image data reads the same however it is cut into chunks and whatever
// window its stream declares; a broken CRC, a broken Adler-32, a flipped
// bit or a missing last chunk fail.
TEST(PngCodec, ImageDataChunksAndDamage) {
  test::OwnedGWorld source = test::MakeGWorld(k32ARGBPixelFormat, 600, 300);
  uint32_t seed = 99;
  for (int y = 0; y < 300; ++y) {
    for (int x = 0; x < 600; ++x) {
      seed = seed * 1103515245u + 12345u;
      test::SetArgb(*source, x, y,
                    0xFF000000u | (y < 150 ? seed >> 8 : uint32_t(x + y) * 0x10101u));
    }
  }
  OSErr err = 1;
  const std::vector<uint8_t> png = EncodeWith(PngExporter(), *source, 768, 24, &err);
  ASSERT_EQ(err, noErr);
  const std::vector<uint8_t> data = ImageData(png);
  const test::Decoded want = DecodeWith(PngImporter(), png, k32ARGBPixelFormat);
  ASSERT_EQ(want.err, noErr);
  const size_t bytes = size_t(want.image->pixMap.rowBytes) * 300;

  std::vector<uint8_t> narrow(data.size() * 2);
  {
    std::vector<uint8_t> rows(300 * (1 + 600 * 3));
    uLongf n = uLongf(rows.size());
    ASSERT_EQ(uncompress(rows.data(), &n, data.data(), uLong(data.size())), Z_OK);
    z_stream z{};
    ASSERT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 9, 8, Z_DEFAULT_STRATEGY), Z_OK);
    z.next_in = rows.data();
    z.avail_in = uInt(n);
    z.next_out = narrow.data();
    z.avail_out = uInt(narrow.size());
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    narrow.resize(z.total_out);
    deflateEnd(&z);
  }
  std::vector<size_t> tiny;  // empty and one-byte chunks, then odd sizes
  for (size_t i = 0; i < 40; ++i) tiny.push_back(i % 3 == 0 ? 0 : i % 7 == 0 ? 70001 : i * 131);
  for (const auto& [stream, sizes] :
       {std::pair{data, tiny}, std::pair{narrow, std::vector<size_t>(200, 997)}}) {
    const test::Decoded got =
        DecodeWith(PngImporter(), WithImageData(png, stream, sizes), k32ARGBPixelFormat);
    ASSERT_EQ(got.err, noErr);
    EXPECT_EQ(std::memcmp(got.image->pixMap.baseAddr, want.image->pixMap.baseAddr, bytes), 0);
  }

  const std::vector<size_t> halves = {data.size() / 2};
  std::vector<uint8_t> brokenCrc = WithImageData(png, data, halves);
  const char* type = "IDAT";
  const size_t first =
      size_t(std::search(brokenCrc.begin(), brokenCrc.end(), type, type + 4) - brokenCrc.begin());
  brokenCrc[first + 4 + data.size() / 2 + 2] ^= 1;  // in the first chunk's CRC
  std::vector<uint8_t> brokenAdler = data;
  brokenAdler.back() ^= 1;
  std::vector<uint8_t> flipped = data;
  flipped[data.size() / 3] ^= 0x08;
  const std::vector<uint8_t> cut(data.begin(), data.end() - 100);
  for (const std::vector<uint8_t>& file :
       {brokenCrc, WithImageData(png, brokenAdler, halves), WithImageData(png, flipped, halves),
        WithImageData(png, cut, halves)}) {
    EXPECT_EQ(DecodeWith(PngImporter(), file, k32ARGBPixelFormat).err, codecErr);
  }
}

// A header claiming a size no buffer can hold is refused before anything is
// allocated for it.
TEST(PngCodec, AbsurdSizesAreRefused) {
  struct Claim {
    png_uint_32 width, height;
    OSErr expected;
  } claims[] = {{300000000, 1, memFullErr}, {1, 300000000, memFullErr}, {100000, 100000, noErr}};
  for (const Claim& c : claims) {
    // Let libpng write the signature, the header and an empty image data chunk.
    std::vector<uint8_t> bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_set_write_fn(
        png, &bytes,
        [](png_structp p, png_bytep data, size_t n) {
          auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
          out->insert(out->end(), data, data + n);
        },
        nullptr);
    png_set_IHDR(png, info, c.width, c.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"), nullptr, 0);
    png_destroy_write_struct(&png, &info);
    ImageHeader header;
    EXPECT_EQ(PngImporter().readHeader(Span(bytes), &header), c.expected) << c.width;
    if (c.expected == noErr) {
      EXPECT_EQ(header.width, 100000);
    }
  }
}

TEST(PngCodec, DrawChecksTheBuffer) {
  std::vector<uint8_t> png = Suite("basn2c08");
  test::OwnedGWorld grey = test::MakeGWorld(k8IndexedGrayPixelFormat, 32, 32);
  EXPECT_EQ(test::DrawGWorld(PngImporter(), Span(png), grey.get()), cDepthErr);
  test::OwnedGWorld small = test::MakeGWorld(k32ARGBPixelFormat, 32, 31);
  EXPECT_EQ(test::DrawGWorld(PngImporter(), Span(png), small.get()), paramErr);
}

}  // namespace
