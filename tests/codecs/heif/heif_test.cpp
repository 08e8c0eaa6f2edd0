#include <gtest/gtest.h>

#include <libheif/heif.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "codecs/format_test_util.h"
#include "codecs/heif/heif_codec.h"

namespace {

using test::Argb;
using test::ArgbAt;
using test::DecodeWith;
using test::EncodeWith;
using test::FormatFile;
using test::Sample16At;
using test::Span;

TEST(HeifCodec, IdentityAndEncoders) {
  EXPECT_EQ(kHeicImporter.format->subtype, FourCC("HEIC"));
  EXPECT_EQ(kAvifImporter.format->subtype, FourCC("AVIF"));
  EXPECT_EQ(kHeicExporter.format->subtype, FourCC("HEIC"));
  EXPECT_EQ(DefaultExtension(*kHeicExporter.format), FourCC("heic"));
  EXPECT_EQ(kAvifExporter.format->subtype, FourCC("AVIF"));
  EXPECT_EQ(DefaultExtension(*kAvifExporter.format), FourCC("avif"));
  EXPECT_EQ(kHeicImporter.name(), std::string("HEIC (libheif ") + heif_get_version() + ")");
  EXPECT_EQ(kAvifExporter.name(), std::string("AVIF (libheif ") + heif_get_version() + ")");
  // This machine's libheif has x265 and aom.
  EXPECT_TRUE(HeicEncoderAvailable());
  EXPECT_TRUE(AvifEncoderAvailable());
}

std::vector<uint8_t> Ftyp(const char* major, std::vector<const char*> compatible) {
  std::vector<uint8_t> box = {0, 0, 0, uint8_t(16 + 4 * compatible.size()), 'f', 't', 'y', 'p'};
  auto brand = [&](const char* b) {
    for (int i = 0; i < 4; ++i) box.push_back(uint8_t(b[i]));
  };
  brand(major);
  brand("\0\0\0\0");
  for (const char* b : compatible) brand(b);
  return box;
}

TEST(HeifCodec, SniffsByBrand) {
  struct Case {
    std::vector<uint8_t> file;
    bool heic, avif;
  } cases[] = {
      {FormatFile("rgb8.heic"), true, false},        {FormatFile("rgb8.avif"), false, true},
      {Ftyp("heix", {"mif1"}), true, false},         {Ftyp("avis", {"msf1"}), false, true},
      {Ftyp("mif1", {"mif1", "avif"}), false, true}, {Ftyp("mif1", {"mif1", "heic"}), true, false},
      {Ftyp("isom", {"mp41"}), false, false},  // a video
      {FormatFile("rgb8_none.tif"), false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(kHeicImporter.sniff(Span(c.file)), c.heic);
    EXPECT_EQ(kAvifImporter.sniff(Span(c.file)), c.avif);
  }
}

// Files written by make_gif_heif.cpp from the pixels of ref.ppm (and
// ref_rgba.pam's alpha) at quality 90. The blue channel is noise that lossy
// coding smooths; red and green are gradients and must stay close.
TEST(HeifCodec, CommittedEightBitFiles) {
  const test::Reference rgba = test::ReadNetpbm("ref_rgba.pam");
  for (const char* file : {"rgb8.heic", "rgba8.heic", "rgb8.avif", "rgba8.avif"}) {
    SCOPED_TRACE(file);
    const bool alpha = std::string(file).rfind("rgba", 0) == 0;
    const ImporterCodec& codec =
        std::string(file).ends_with("heic") ? kHeicImporter : kAvifImporter;
    test::Decoded d = DecodeWith(codec, FormatFile(file), k32ARGBPixelFormat);
    ASSERT_EQ(d.err, noErr);
    EXPECT_EQ(d.header.width, 24);
    EXPECT_EQ(d.header.height, 16);
    EXPECT_EQ(d.header.preferredPixelFormat, 0u);
    int worst = 0;
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 24; ++x) {
        const uint32_t got = ArgbAt(*d.image, x, y), want = rgba.At(x, y);
        for (int shift : {8, 16}) {
          worst = std::max(worst, std::abs(int((got >> shift) & 255) - int((want >> shift) & 255)));
        }
        const int a = int(got >> 24);
        worst = std::max(worst, std::abs(a - (alpha ? int(want >> 24) : 255)));
      }
    }
    EXPECT_LT(worst, 40);
  }
}

// rgb10.heic and rgba10.heic: 10-bit R = 1023 x / 23, G = 1023 y / 15,
// B = 512, A = 4 (11 x + 17 y) mod 1024.
TEST(HeifCodec, TenBitFilesPreferSixteenBitFormats) {
  for (const char* file : {"rgb10.heic", "rgba10.heic"}) {
    SCOPED_TRACE(file);
    const bool alpha = std::string(file) == "rgba10.heic";
    const OSType format = alpha ? k64ARGBPixelFormat : k48RGBCodecType;
    test::Decoded d = DecodeWith(kHeicImporter, FormatFile(file), format);
    ASSERT_EQ(d.err, noErr);
    EXPECT_EQ(d.header.preferredPixelFormat, format);
    int worst = 0;
    const int first = alpha ? 1 : 0;
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 24; ++x) {
        const int want[] = {x * 1023 / 23, y * 1023 / 15, 512};
        for (int c = 0; c < 3; ++c) {
          // 10 bits to 16: v * 65535 / 1023.
          worst = std::max(
              worst, std::abs(int(Sample16At(*d.image, x, y, first + c)) - want[c] * 65535 / 1023));
        }
        if (alpha) {
          const int a = (x * 11 + y * 17) * 4 & 1023;
          worst = std::max(worst, std::abs(int(Sample16At(*d.image, x, y, 0)) - a * 65535 / 1023));
        }
      }
    }
    EXPECT_LT(worst, 40 * 257);
  }
}

// /q reaches the encoder as round(q * 100 / 1023): 880, 885 and 890 come to
// 86.02, 86.51 and 87.00, so 885 must encode as 890 does and not as 880
// (libheif's AV1 settings differ between 86 and 87 percent).
TEST(HeifCodec, QualityIsRoundedToAWholePercent) {
  if (!heif_have_encoder_for_format(heif_compression_AV1)) {
    GTEST_SKIP() << "libheif has no AV1 encoder here";
  }
  test::OwnedGWorld source = test::MakeTestPicture(64, 48);
  std::vector<uint8_t> files[3];
  const int32_t qualities[3] = {880, 885, 890};
  test::StderrOf([&] {
    for (int i = 0; i < 3; ++i) files[i] = EncodeWith(kAvifExporter, *source, qualities[i], 24);
  });
  ASSERT_FALSE(files[0].empty());
  EXPECT_NE(files[0], files[1]);
  EXPECT_EQ(files[1], files[2]);
}

TEST(HeifCodec, RoundTrips) {
  test::OwnedGWorld source = test::MakeTestPicture(40, 28, /*varyAlpha=*/true);
  struct Case {
    const ExporterCodec* exporter;
    const ImporterCodec* importer;
    int32_t quality, depth;
    double minPsnr;
  } cases[] = {
      {&kHeicExporter, &kHeicImporter, 900, 24, 30.0},
      {&kHeicExporter, &kHeicImporter, 900, 32, 30.0},
      {&kAvifExporter, &kAvifImporter, 900, 24, 30.0},
      {&kAvifExporter, &kAvifImporter, 900, 32, 30.0},
      {&kHeicExporter, &kHeicImporter, 200, 24, 22.0},
      // Lossless: libheif 1.15 passes RGB through YCbCr 4:4:4, one level of
      // rounding at most; alpha is exact.
      {&kHeicExporter, &kHeicImporter, 1024, 32, 50.0},
      {&kAvifExporter, &kAvifImporter, 1024, 32, 50.0},
  };
  const std::string printed = test::StderrOf([&] {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.exporter->name() << " " << c.quality << " " << c.depth);
      OSErr err = 1;
      std::vector<uint8_t> file = EncodeWith(*c.exporter, *source, c.quality, c.depth, &err);
      ASSERT_EQ(err, noErr);
      EXPECT_TRUE(c.importer->sniff(Span(file)));
      test::Decoded d = DecodeWith(*c.importer, file, k32ARGBPixelFormat);
      ASSERT_EQ(d.err, noErr);
      EXPECT_EQ(d.header.width, 40);
      EXPECT_EQ(d.header.height, 28);
      EXPECT_EQ(d.header.preferredPixelFormat, 0u);
      EXPECT_GE(test::RgbPsnr(*source, *d.image), c.minPsnr);
      int worstAlpha = 0;
      for (int y = 0; y < 28; ++y) {
        for (int x = 0; x < 40; ++x) {
          const int want = c.depth == 32 ? int(ArgbAt(*source, x, y) >> 24) : 255;
          worstAlpha = std::max(worstAlpha, std::abs(int(ArgbAt(*d.image, x, y) >> 24) - want));
        }
      }
      EXPECT_LE(worstAlpha, c.quality >= 1024 ? 0 : 24);
      if (c.quality >= 1024) {
        int worst = 0;
        for (int y = 0; y < 28; ++y) {
          for (int x = 0; x < 40; ++x) {
            const uint32_t p = ArgbAt(*d.image, x, y), q = ArgbAt(*source, x, y);
            for (int shift : {0, 8, 16}) {
              worst = std::max(worst, std::abs(int((p >> shift) & 255) - int((q >> shift) & 255)));
            }
          }
        }
        EXPECT_LE(worst, 1);
      }
    }
  });
  EXPECT_EQ(printed, "");
}

// A 16-bit buffer keeps 10 bits in HEIC and 12 in AVIF; an 8-bit one stays 8.
// Lossless, so each sample comes back within a level or two of its depth.
TEST(HeifCodec, SixteenBitBuffersAreWrittenDeep) {
  test::OwnedGWorld deep = test::MakeGWorld(k64ARGBPixelFormat, 24, 16);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 24; ++x) {
      for (int i = 0; i < 4; ++i) {
        test::SetSample16(*deep, x, y, i, uint16_t((x * 2731 + y * 4099 + i * 15013) & 0xFFFF));
      }
    }
  }
  test::OwnedGWorld shallow = test::MakeTestPicture(24, 16);
  struct Case {
    const ExporterCodec* exporter;
    const ImporterCodec* importer;
    const GWorld* source;
    int depth, bits;
  } cases[] = {
      {&kHeicExporter, &kHeicImporter, deep.get(), 32, 10},
      {&kAvifExporter, &kAvifImporter, deep.get(), 32, 12},
      {&kAvifExporter, &kAvifImporter, deep.get(), 8, 8},
      {&kHeicExporter, &kHeicImporter, shallow.get(), 32, 8},
  };
  const std::string printed = test::StderrOf([&] {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.exporter->name() << " " << c.bits);
      OSErr err = 1;
      std::vector<uint8_t> file = EncodeWith(*c.exporter, *c.source, 1024, c.depth, &err);
      ASSERT_EQ(err, noErr);
      HeifContext context(heif_context_alloc());
      ASSERT_EQ(heif_context_read_from_memory_without_copy(context.get(), file.data(), file.size(),
                                                           nullptr)
                    .code,
                heif_error_Ok);
      heif_image_handle* handle = nullptr;
      ASSERT_EQ(heif_context_get_primary_image_handle(context.get(), &handle).code, heif_error_Ok);
      EXPECT_EQ(heif_image_handle_get_luma_bits_per_pixel(handle), c.bits);
      heif_image_handle_release(handle);
      if (c.bits == 8) continue;
      test::Decoded d = DecodeWith(*c.importer, file, k64ARGBPixelFormat);
      ASSERT_EQ(d.err, noErr);
      EXPECT_EQ(d.header.preferredPixelFormat, FourCC("b64a"));
      const int level = 65535 / ((1 << c.bits) - 1);
      int worst = 0;
      for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 24; ++x) {
          for (int i = 0; i < 4; ++i) {
            worst = std::max(worst, std::abs(int(Sample16At(*d.image, x, y, i)) -
                                             int(Sample16At(*c.source, x, y, i))));
          }
        }
      }
      EXPECT_LE(worst, 2 * level);
    }
  });
  EXPECT_EQ(printed, "");
}

TEST(HeifCodec, DamagedInputFailsCleanlyAndSilently) {
  const std::string printed = test::StderrOf([&] {
    for (const char* name : {"rgb8.heic", "rgba8.avif"}) {
      SCOPED_TRACE(name);
      const std::vector<uint8_t> whole = FormatFile(name);
      const ImporterCodec& codec =
          std::string(name).ends_with("heic") ? kHeicImporter : kAvifImporter;
      for (double fraction : {0.02, 0.5, 0.9}) {
        test::Decoded d = DecodeWith(codec, test::Truncated(whole, fraction), k32ARGBPixelFormat);
        EXPECT_EQ(d.err, codecErr) << fraction;
      }
    }
  });
  EXPECT_EQ(printed, "");
}

}  // namespace
