#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include <jconfig.h>
#include <turbojpeg.h>
#include <cstdio>  // before jconfig.h

#include <string>

#include "codecs/codec_test_util.h"
#include "platform/codec.h"
#include "test_support.h"

#define TAVREL_STRINGIZE_TEXT(x) #x
#define TAVREL_STRINGIZE(x) TAVREL_STRINGIZE_TEXT(x)

namespace {

using test::Argb;
using test::ArgbAt;
using test::DecodeWith;
using test::EncodeWith;

const ImporterCodec& JpegImporter() {
  return *ImporterCodecs().at(0);
}
const ExporterCodec& JpegExporter() {
  return *ExporterCodecs().at(0);
}

std::vector<uint8_t> DataFile(const std::string& name) {
  return test::ReadFileBytes(test::DataPath("codecs/" + name));
}

ByteSpan Span(const std::vector<uint8_t>& v) {
  return ByteSpan(v.data(), v.size());
}

struct JpegFacts {
  int width = 0, height = 0, subsampling = -1, colorspace = -1;
};

// What TurboJPEG itself says about a file.
JpegFacts Inspect(const std::vector<uint8_t>& jpeg) {
  JpegFacts f;
  tjhandle h = tjInitDecompress();
  tjDecompressHeader3(h, jpeg.data(), jpeg.size(), &f.width, &f.height, &f.subsampling,
                      &f.colorspace);
  tjDestroy(h);
  return f;
}

TEST(JpegCodec, Identity) {
  EXPECT_EQ(JpegImporter().format->subtype, FourCC("JPEG"));
  EXPECT_EQ(JpegExporter().format->subtype, FourCC("JPEG"));
  EXPECT_EQ(DefaultExtension(*JpegExporter().format), FourCC("jpg "));
  EXPECT_EQ(JpegImporter().name(),
            std::string("JPEG (libjpeg-turbo ") + TAVREL_STRINGIZE(LIBJPEG_TURBO_VERSION) + ")");
}

TEST(JpegCodec, SniffsByContent) {
  std::vector<uint8_t> jpeg = DataFile("gradient_baseline.jpg");
  EXPECT_TRUE(JpegImporter().sniff(Span(jpeg)));
  std::vector<uint8_t> png = test::ReadFileBytes(test::DataPath("pngsuite/basn2c08.png"));
  EXPECT_FALSE(JpegImporter().sniff(Span(png)));
  EXPECT_FALSE(JpegImporter().sniff(ByteSpan()));
  std::vector<uint8_t> two = {0xFF, 0xD8};
  EXPECT_FALSE(JpegImporter().sniff(Span(two)));
}

// The same coefficients, entropy-coded three ways, give djpeg's pixels.
TEST(JpegCodec, BaselineProgressiveAndArithmeticMatchDjpeg) {
  std::vector<uint8_t> ppm = DataFile("gradient_djpeg.ppm");
  const size_t header = std::string("P6\n48 40\n255\n").size();
  ASSERT_EQ(ppm.size(), header + 48 * 40 * 3);
  for (const char* name :
       {"gradient_baseline.jpg", "gradient_progressive.jpg", "gradient_arithmetic.jpg"}) {
    SCOPED_TRACE(name);
    test::Decoded d = DecodeWith(JpegImporter(), DataFile(name), k32ARGBPixelFormat);
    ASSERT_EQ(d.err, noErr);
    EXPECT_EQ(d.header.width, 48);
    EXPECT_EQ(d.header.height, 40);
    EXPECT_EQ(d.header.preferredPixelFormat, 0u);
    int mismatches = 0;
    for (int y = 0; y < 40; ++y) {
      for (int x = 0; x < 48; ++x) {
        const uint8_t* p = &ppm[header + (size_t(y) * 48 + x) * 3];
        if (ArgbAt(*d.image, x, y) != Argb(255, p[0], p[1], p[2])) ++mismatches;
      }
    }
    EXPECT_EQ(mismatches, 0);
  }
}

TEST(JpegCodec, ColourRoundTrip) {
  test::OwnedGWorld source = test::MakeTestPicture(61, 37, /*varyAlpha=*/true);
  struct Case {
    int32_t quality;
    double minPsnr;
  } cases[] = {{1023, 40.0}, {768, 30.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.quality);
    OSErr err = 1;
    std::vector<uint8_t> jpeg = EncodeWith(JpegExporter(), *source, c.quality, 32, &err);
    ASSERT_EQ(err, noErr);
    JpegFacts facts = Inspect(jpeg);
    EXPECT_EQ(facts.width, 61);
    EXPECT_EQ(facts.height, 37);
    EXPECT_EQ(facts.colorspace, TJCS_YCbCr);
    test::Decoded d = DecodeWith(JpegImporter(), jpeg, k32ARGBPixelFormat);
    ASSERT_EQ(d.err, noErr);
    EXPECT_GT(test::RgbPsnr(*source, *d.image), c.minPsnr);
    EXPECT_EQ(ArgbAt(*d.image, 60, 36) >> 24, 255u);  // alpha is not kept
  }
}

// Quality 0 ... 1023 maps to percent round(q * 100 / 1023) within 1 ... 100;
// chroma is halved both ways below 90 percent. TurboJPEG given the same
// settings must write the same bytes.
TEST(JpegCodec, QualityAndSubsamplingAsTurboJpegWrites) {
  test::OwnedGWorld source = test::MakeTestPicture(40, 24);
  struct Case {
    int32_t quality;
    int percent;
    int subsampling;
  } cases[] = {
      {-5, 1, TJSAMP_420},     {0, 1, TJSAMP_420},      {5, 1, TJSAMP_420},
      {6, 1, TJSAMP_420},      {16, 2, TJSAMP_420},     {512, 50, TJSAMP_420},
      {768, 75, TJSAMP_420},   {915, 89, TJSAMP_420},   {916, 90, TJSAMP_444},
      {1023, 100, TJSAMP_444}, {5000, 100, TJSAMP_444},
  };
  // The larger picture is written in several bands of rows, the last short.
  test::OwnedGWorld large = test::MakeTestPicture(131, 67);
  for (const Case& c : cases) {
    for (const GWorld* picture : {source.get(), large.get()}) {
      const int width = int(picture->pixMap.bounds.right);
      const int height = int(picture->pixMap.bounds.bottom);
      SCOPED_TRACE(std::to_string(c.quality) + " at " + std::to_string(width));
      std::vector<uint8_t> ours = EncodeWith(JpegExporter(), *picture, c.quality, 24);
      tjhandle h = tjInitCompress();
      unsigned char* theirs = nullptr;
      unsigned long size = 0;
      ASSERT_EQ(tjCompress2(h, static_cast<unsigned char*>(picture->pixMap.baseAddr), width,
                            picture->pixMap.rowBytes, height, TJPF_BGRA, &theirs, &size,
                            c.subsampling, c.percent, TJFLAG_ACCURATEDCT),
                0);
      EXPECT_EQ(ours, std::vector<uint8_t>(theirs, theirs + size));
      tjFree(theirs);
      tjDestroy(h);
    }
  }
}

// Drawing a band of rows at a time gives the pixels of TurboJPEG's
// whole-image decode, for every chroma layout and a last band cut short.
TEST(JpegCodec, DrawsWhatTurboJpegDecodes) {
  test::OwnedGWorld source = test::MakeTestPicture(131, 67);
  for (int subsampling : {TJSAMP_420, TJSAMP_422, TJSAMP_444, TJSAMP_GRAY, TJSAMP_440}) {
    SCOPED_TRACE(subsampling);
    tjhandle h = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    ASSERT_EQ(tjCompress2(h, static_cast<unsigned char*>(source->pixMap.baseAddr), 131,
                          source->pixMap.rowBytes, 67, TJPF_BGRA, &jpeg, &size, subsampling, 80,
                          TJFLAG_ACCURATEDCT),
              0);
    const std::vector<uint8_t> file(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(h);
    std::vector<uint8_t> theirs(131 * 4 * 67);
    tjhandle d = tjInitDecompress();
    ASSERT_EQ(
        tjDecompress2(d, file.data(), file.size(), theirs.data(), 131, 131 * 4, 67, TJPF_BGRA, 0),
        0);
    tjDestroy(d);
    test::Decoded ours = DecodeWith(JpegImporter(), file, k32ARGBPixelFormat);
    ASSERT_EQ(ours.err, noErr);
    for (int y = 0; y < 67; ++y) {
      for (int x = 0; x < 131; ++x) {
        const uint8_t* t = &theirs[(y * 131 + x) * 4];
        const uint32_t expected =
            uint32_t(t[3]) << 24 | uint32_t(t[2]) << 16 | uint32_t(t[1]) << 8 | t[0];
        ASSERT_EQ(ArgbAt(*ours.image, x, y), expected) << x << ", " << y;
      }
    }
  }
}

TEST(JpegCodec, GreyDepthsWriteGreyJpeg) {
  test::OwnedGWorld source = test::MakeGWorld(k32ARGBPixelFormat, 16, 8);
  // Left half red, right half green; luma 0.299 * 255 = 76, 0.587 * 255 = 150.
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 16; ++x) test::SetArgb(*source, x, y, x < 8 ? 0xFFFF0000u : 0xFF00FF00u);
  }
  for (int32_t depth : {8, 40}) {
    SCOPED_TRACE(depth);
    std::vector<uint8_t> jpeg = EncodeWith(JpegExporter(), *source, 1023, depth);
    EXPECT_EQ(Inspect(jpeg).colorspace, TJCS_GRAY);
    test::Decoded d = DecodeWith(JpegImporter(), jpeg, k32ARGBPixelFormat);
    ASSERT_EQ(d.err, noErr);
    EXPECT_NEAR(double(ArgbAt(*d.image, 2, 4) & 0xFF), 76, 1);
    EXPECT_NEAR(double(ArgbAt(*d.image, 13, 4) & 0xFF), 150, 1);
    uint32_t p = ArgbAt(*d.image, 13, 4);
    EXPECT_EQ(p >> 24, 255u);
    EXPECT_EQ((p >> 16) & 0xFF, p & 0xFF);  // grey expanded to equal R, G, B
    EXPECT_EQ((p >> 8) & 0xFF, p & 0xFF);
  }
}

// 16-bit buffers are written at 8 bits, (v * 255 + 32767) / 65535.
TEST(JpegCodec, SixteenBitBuffersAreReduced) {
  for (OSType format : {k48RGBCodecType, k64ARGBPixelFormat}) {
    test::OwnedGWorld source = test::MakeGWorld(format, 16, 16);
    const int first = format == k64ARGBPixelFormat ? 1 : 0;
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 16; ++x) {
        if (first) test::SetSample16(*source, x, y, 0, 0x1234);  // alpha, dropped
        test::SetSample16(*source, x, y, first + 0, 0xC000);     // 191.25 -> 191
        test::SetSample16(*source, x, y, first + 1, 0x2000);     // 31.88 -> 32
        test::SetSample16(*source, x, y, first + 2, 0x8000);     // 127.5 -> 128
      }
    }
    OSErr err = 1;
    std::vector<uint8_t> jpeg = EncodeWith(JpegExporter(), *source, 1023, 24, &err);
    ASSERT_EQ(err, noErr);
    test::Decoded d = DecodeWith(JpegImporter(), jpeg, k32ARGBPixelFormat);
    ASSERT_EQ(d.err, noErr);
    uint32_t p = ArgbAt(*d.image, 7, 7);
    EXPECT_NEAR(double((p >> 16) & 0xFF), 191, 1);
    EXPECT_NEAR(double((p >> 8) & 0xFF), 32, 1);
    EXPECT_NEAR(double(p & 0xFF), 128, 1);
  }
}

TEST(JpegCodec, GreyJpegExpandsToEqualChannels) {
  uint8_t grey[8 * 8];
  for (int i = 0; i < 64; ++i) grey[i] = uint8_t(i * 4);
  tjhandle h = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  ASSERT_EQ(tjCompress2(h, grey, 8, 8, 8, TJPF_GRAY, &jpeg, &size, TJSAMP_GRAY, 100, 0), 0);
  std::vector<uint8_t> file(jpeg, jpeg + size);
  tjFree(jpeg);
  tjDestroy(h);
  test::Decoded d = DecodeWith(JpegImporter(), file, k32ARGBPixelFormat);
  ASSERT_EQ(d.err, noErr);
  for (int i : {0, 9, 35, 63}) {
    uint32_t p = ArgbAt(*d.image, i % 8, i / 8);
    EXPECT_EQ(p >> 24, 255u);
    EXPECT_NEAR(double(p & 0xFF), grey[i], 2);
    EXPECT_EQ((p >> 16) & 0xFF, p & 0xFF);
    EXPECT_EQ((p >> 8) & 0xFF, p & 0xFF);
  }
}

// CMYK written the way libjpeg writers (and Photoshop) do: with the Adobe
// segment and inverted values, 255 meaning no ink.
TEST(JpegCodec, AdobeCmykBecomesRgb) {
  struct Patch {
    uint8_t c, m, y, k;  // ink amounts
    uint32_t expected;
  } patches[] = {
      {0, 0, 0, 0, 0xFFFFFFFFu},      // paper
      {0, 255, 255, 0, 0xFFFF0000u},  // magenta + yellow = red
      {255, 0, 255, 0, 0xFF00FF00u},  // cyan + yellow = green
      {0, 0, 0, 255, 0xFF000000u},    // black
      {0, 0, 0, 128, 0xFF7F7F7Fu},    // half black: 255 * 127 / 255
      {255, 0, 0, 128, 0xFF007F7Fu},
  };
  const int n = int(std::size(patches));
  std::vector<uint8_t> cmyk(size_t(n) * 16 * 16 * 4);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16 * n; ++x) {
      const Patch& p = patches[x / 16];
      uint8_t* q = &cmyk[(size_t(y) * 16 * n + x) * 4];
      q[0] = 255 - p.c;
      q[1] = 255 - p.m;
      q[2] = 255 - p.y;
      q[3] = 255 - p.k;
    }
  }
  for (int colorspaceSubsampling : {TJSAMP_444, TJSAMP_420}) {
    tjhandle h = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    ASSERT_EQ(tjCompress2(h, cmyk.data(), 16 * n, 0, 16, TJPF_CMYK, &jpeg, &size,
                          colorspaceSubsampling, 100, 0),
              0);
    std::vector<uint8_t> file(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(h);
    EXPECT_EQ(Inspect(file).colorspace, TJCS_YCCK);
    test::Decoded d = DecodeWith(JpegImporter(), file, k32ARGBPixelFormat);
    ASSERT_EQ(d.err, noErr);
    for (int i = 0; i < n; ++i) {
      SCOPED_TRACE(i);
      uint32_t got = ArgbAt(*d.image, i * 16 + 8, 8);
      EXPECT_EQ(got >> 24, 255u);
      for (int shift = 0; shift < 24; shift += 8) {
        EXPECT_NEAR(double((got >> shift) & 0xFF), double((patches[i].expected >> shift) & 0xFF),
                    3);
      }
    }
  }
}

// Data that ends before the last row is damage; data that lacks only its
// end-of-image marker is the whole image.
TEST(JpegCodec, TruncatedFileFailsUnlessOnlyTheEndMarkerIsMissing) {
  test::OwnedGWorld source = test::MakeTestPicture(64, 256);
  std::vector<uint8_t> full = EncodeWith(JpegExporter(), *source, 1023, 24);
  test::Decoded whole = DecodeWith(JpegImporter(), full, k32ARGBPixelFormat);
  ASSERT_EQ(whole.err, noErr);
  std::vector<uint8_t> cut(full.begin(), full.begin() + full.size() * 9 / 10);
  EXPECT_EQ(DecodeWith(JpegImporter(), cut, k32ARGBPixelFormat).err, codecErr);

  ASSERT_EQ(full.end()[-2], 0xFF);
  ASSERT_EQ(full.end()[-1], 0xD9);
  std::vector<uint8_t> noEnd(full.begin(), full.end() - 2);
  test::Decoded unended = DecodeWith(JpegImporter(), noEnd, k32ARGBPixelFormat);
  ASSERT_EQ(unended.err, noErr);
  const size_t bytes = 256 * size_t(whole.image->pixMap.rowBytes);
  EXPECT_EQ(std::memcmp(unended.image->pixMap.baseAddr, whole.image->pixMap.baseAddr, bytes), 0);
}

// Where the first start-of-scan marker is.
size_t FindScanHeader(const std::vector<uint8_t>& jpeg) {
  for (size_t i = 2; i + 3 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) return i;
  }
  return 0;
}

// Drawing from the open file, with only the segments before the first scan
// held, ends as drawing from the whole file in memory: the same result and
// the same pixels, for whole, cut and unended files, for one whose segments
// run past the first bytes read at once, and for one whose segments cannot
// be walked (stray bytes before a marker).
TEST(JpegCodec, DrawingFromTheFileEqualsDrawingFromMemory) {
  test::OwnedGWorld source = test::MakeTestPicture(64, 256);
  const std::vector<uint8_t> full = EncodeWith(JpegExporter(), *source, 900, 24);
  std::vector<uint8_t> stray = full;
  stray.insert(stray.begin() + 2, {0x00, 0x00});
  std::vector<uint8_t> longHead = full;
  std::vector<uint8_t> comment = {0xFF, 0xFE, 20002 >> 8, 20002 & 0xFF};
  for (int i = 0; i < 20000; ++i) comment.push_back(uint8_t(i * 7));
  longHead.insert(longHead.begin() + 2, comment.begin(), comment.end());
  const std::vector<std::vector<uint8_t>> files = {
      full,
      DataFile("gradient_progressive.jpg"),
      std::vector<uint8_t>(full.begin(), full.begin() + full.size() * 9 / 10),
      std::vector<uint8_t>(full.begin(), full.end() - 2),
      longHead,
      stray};
  test::TempDir dir;
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(i);
    const test::Decoded memory = DecodeWith(JpegImporter(), files[i], k32ARGBPixelFormat);
    test::WriteFileBytes(dir / "in.jpg", files[i]);
    const int fd = open((dir / "in.jpg").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> skeleton;
    ASSERT_EQ(JpegImporter().readSkeleton(fd, files[i].size(), &skeleton), noErr);
    // Held up to the first scan's header and an end marker; only the file
    // whose segments cannot be walked is read whole.
    const size_t scan = FindScanHeader(files[i]);
    EXPECT_EQ(skeleton.size(), i + 1 == files.size()
                                   ? files[i].size()
                                   : scan + 4 + (files[i][scan + 2] << 8 | files[i][scan + 3]));
    EXPECT_TRUE(std::equal(skeleton.begin(), skeleton.end() - (i + 1 == files.size() ? 0 : 2),
                           files[i].begin()));
    ImageHeader header;
    EXPECT_EQ(JpegImporter().readHeader(Span(skeleton), &header),
              memory.header.width > 0 ? noErr : codecErr);
    EXPECT_EQ(header.width, memory.header.width);
    EXPECT_EQ(header.height, memory.header.height);
    if (memory.image) {
      test::OwnedGWorld drawn = test::MakeGWorld(k32ARGBPixelFormat, header.width, header.height);
      RowBand rows;
      rows.AttachWhole(PixelViewOf(drawn.get()), false);
      EXPECT_EQ(JpegImporter().drawFromFile(fd, files[i].size(), DrawRequest{&rows, nullptr, 1}),
                memory.err);
      const size_t bytes = size_t(header.height) * size_t(drawn->pixMap.rowBytes);
      if (memory.err == noErr) {
        EXPECT_EQ(std::memcmp(drawn->pixMap.baseAddr, memory.image->pixMap.baseAddr, bytes), 0);
      }
    }
    close(fd);
  }
}

TEST(JpegCodec, DamagedFilesFailCleanly) {
  std::vector<uint8_t> full = DataFile("gradient_baseline.jpg");
  // Only the start of image and the first marker bytes.
  std::vector<uint8_t> stub(full.begin(), full.begin() + 4);
  ImageHeader header;
  EXPECT_EQ(JpegImporter().readHeader(Span(stub), &header), codecErr);
  // Noise after a valid start of image.
  std::vector<uint8_t> noise = {0xFF, 0xD8, 0xFF};
  for (int i = 0; i < 500; ++i) noise.push_back(uint8_t(i * 37 + 11));
  EXPECT_EQ(JpegImporter().readHeader(Span(noise), &header), codecErr);
  test::OwnedGWorld dst = test::MakeGWorld(k32ARGBPixelFormat, 48, 40);
  EXPECT_EQ(test::DrawGWorld(JpegImporter(), Span(noise), dst.get()), codecErr);
  // Everything after the frame header cut off: no scan at all.
  std::vector<uint8_t> headerOnly(full.begin(), full.begin() + 200);
  test::Decoded d = DecodeWith(JpegImporter(), headerOnly, k32ARGBPixelFormat);
  EXPECT_NE(d.err, noErr);
}

// A few kilobytes whose frame header claims 16000 x 16000: refused at once
// instead of painting a gigabyte of grey.
TEST(JpegCodec, HeaderClaimingMoreThanTheDataHoldsIsRefused) {
  test::OwnedGWorld source = test::MakeTestPicture(48, 40);
  std::vector<uint8_t> jpeg = EncodeWith(JpegExporter(), *source, 768, 24);
  size_t sof = 2;
  while (!(jpeg[sof] == 0xFF && jpeg[sof + 1] == 0xC0))
    sof += 2 + (jpeg[sof + 2] << 8 | jpeg[sof + 3]);
  for (size_t at : {sof + 5, sof + 7}) {  // height, then width
    jpeg[at] = 16000 >> 8;
    jpeg[at + 1] = 16000 & 255;
  }
  ImageHeader header;
  ASSERT_EQ(JpegImporter().readHeader(Span(jpeg), &header), noErr);
  ASSERT_EQ(header.width, 16000);
  test::OwnedGWorld dst = test::MakeGWorld(k32ARGBPixelFormat, 16000, 16000);
  ASSERT_TRUE(dst);
  // The last row is marked: a decoder that paints on after the data ends
  // overwrites it.
  const PixelView view = PixelViewOf(dst.get());
  uint8_t* last = view.base + (view.height - 1) * view.rowBytes;
  std::memset(last, 0xA5, size_t(view.width) * 4);
  EXPECT_EQ(test::DrawGWorld(JpegImporter(), Span(jpeg), dst.get()), codecErr);
  EXPECT_TRUE(
      std::all_of(last, last + size_t(view.width) * 4, [](uint8_t b) { return b == 0xA5; }));
}

TEST(JpegCodec, DrawChecksTheBuffer) {
  std::vector<uint8_t> jpeg = DataFile("gradient_baseline.jpg");
  test::OwnedGWorld wide = test::MakeGWorld(k48RGBCodecType, 48, 40);
  EXPECT_EQ(test::DrawGWorld(JpegImporter(), Span(jpeg), wide.get()), cDepthErr);
  test::OwnedGWorld small = test::MakeGWorld(k32ARGBPixelFormat, 47, 40);
  EXPECT_EQ(test::DrawGWorld(JpegImporter(), Span(jpeg), small.get()), paramErr);
  test::OwnedGWorld huge = test::MakeGWorld(k32ARGBPixelFormat, 65501, 1);
  OSErr err = noErr;
  EncodeWith(JpegExporter(), *huge, 512, 24, &err);
  EXPECT_EQ(err, paramErr);  // beyond the format's limit
}

}  // namespace
