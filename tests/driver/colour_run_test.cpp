// Colour matching through the real program: sources tagged with an ICC
// profile (or HEIF's coded primaries) come out as lcms itself converts their
// stored samples to sRGB; sRGB-tagged sources come out as untagged ones; /m
// leaves the samples alone.
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <lcms2.h>
#include <libheif/heif.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "png_files.h"
#include "test_support.h"

namespace {

constexpr int32_t kWidth = 48;
constexpr int32_t kHeight = 32;
const char* const kAdobe = "/usr/share/color/icc/compatibleWithAdobeRGB1998.icc";
const char* const kSrgb = "/usr/share/color/icc/sRGB.icc";

using Bytes = std::vector<uint8_t>;

struct ProfileClose {
  void operator()(void* p) const { cmsCloseProfile(p); }
};
using Profile = std::unique_ptr<void, ProfileClose>;

Bytes Save(cmsHPROFILE profile) {
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  Bytes bytes(size);
  cmsSaveProfileToMem(profile, bytes.data(), &size);
  return bytes;
}

// An sRGB-curved RGB profile with D65 white and the given primaries.
Profile MakeRgbProfile(const cmsCIExyYTRIPLE& primaries) {
  const cmsFloat64Number srgb[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
  cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, srgb);
  cmsToneCurve* curves[3] = {curve, curve, curve};
  const cmsCIExyY d65 = {0.3127, 0.3290, 1};
  Profile profile(cmsCreateRGBProfile(&d65, &primaries, curves));
  cmsFreeToneCurve(curve);
  return profile;
}

const cmsCIExyYTRIPLE kP3 = {{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}};
const cmsCIExyYTRIPLE kBt2020 = {{0.708, 0.292, 1}, {0.170, 0.797, 1}, {0.131, 0.046, 1}};

// A printer-like CMYK profile: ink multiplies away light, then sRGB to Lab.
int SampleInk(const cmsUInt16Number in[], cmsUInt16Number out[], void* toLab) {
  const double k = 1 - in[3] / 65535.0;
  double rgb[3];
  for (int c = 0; c < 3; ++c) rgb[c] = (1 - in[c] / 65535.0) * (0.1 + 0.9 * k);
  cmsCIELab lab;
  cmsDoTransform(toLab, rgb, &lab, 1);
  cmsFloat2LabEncodedV2(out, &lab);
  return 1;
}

Profile MakeCmykProfile() {
  Profile srgb(cmsCreate_sRGBProfile());
  Profile lab(cmsCreateLab4Profile(nullptr));
  cmsHTRANSFORM toLab = cmsCreateTransform(srgb.get(), TYPE_RGB_DBL, lab.get(), TYPE_Lab_DBL,
                                           INTENT_RELATIVE_COLORIMETRIC, 0);
  Profile profile(cmsCreateProfilePlaceholder(nullptr));
  cmsSetProfileVersion(profile.get(), 2.1);  // lut16: a lone grid is allowed
  cmsSetDeviceClass(profile.get(), cmsSigOutputClass);
  cmsSetColorSpace(profile.get(), cmsSigCmykData);
  cmsSetPCS(profile.get(), cmsSigLabData);
  cmsPipeline* lut = cmsPipelineAlloc(nullptr, 4, 3);
  cmsStage* grid = cmsStageAllocCLut16bit(nullptr, 9, 4, 3, nullptr);
  cmsStageSampleCLut16bit(grid, SampleInk, toLab, 0);
  cmsPipelineInsertStage(lut, cmsAT_BEGIN, grid);
  cmsWriteTag(profile.get(), cmsSigAToB0Tag, lut);
  cmsWriteTag(profile.get(), cmsSigMediaWhitePointTag, cmsD50_XYZ());
  cmsPipelineFree(lut);
  cmsDeleteTransform(toLab);
  return profile;
}

// lcms's answer: samples (8 or 16-bit, channels a pixel) from profile to
// sRGB, relative colorimetric with black-point compensation.
std::vector<uint16_t> ToSrgb(const Bytes& icc, const std::vector<uint16_t>& in, int bits,
                             bool cmyk) {
  Profile from(cmsOpenProfileFromMem(icc.data(), cmsUInt32Number(icc.size())));
  Profile srgb(cmsCreate_sRGBProfile());
  const cmsUInt32Number inFormat = cmyk ? TYPE_CMYK_16 : TYPE_RGB_16;
  cmsHTRANSFORM t = cmsCreateTransform(from.get(), inFormat, srgb.get(), TYPE_RGB_16,
                                       INTENT_RELATIVE_COLORIMETRIC,
                                       cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_NOOPTIMIZE);
  EXPECT_NE(t, nullptr);
  const size_t pixels = in.size() / (cmyk ? 4 : 3);
  std::vector<uint16_t> wide(in), out(pixels * 3);
  if (bits == 8) {
    for (uint16_t& v : wide) v = uint16_t(v * 257);
  }
  cmsDoTransform(t, wide.data(), out.data(), cmsUInt32Number(pixels));
  cmsDeleteTransform(t);
  if (bits == 8) {
    for (uint16_t& v : out) v = uint16_t((v + 128) / 257);
  }
  return out;
}

int MaxDifference(const std::vector<uint16_t>& a, const std::vector<uint16_t>& b) {
  EXPECT_EQ(a.size(), b.size());
  int most = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    most = std::max(most, std::abs(a[i] - b[i]));
  }
  return most;
}

// Flat 8 x 8 blocks of colours across the cube. The resampler may round a
// level differently even at the same size, and a curve can magnify that;
// inside a flat block it has nothing to round.
test::PngPixels Blocks(int bits, int channels) {
  test::PngPixels pixels;
  pixels.width = kWidth;
  pixels.height = kHeight;
  pixels.bitDepth = bits;
  pixels.channels = channels;
  const int top = bits == 16 ? 65535 : 255;
  const int levels[4] = {0, top * 35 / 100, top * 70 / 100, top};
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const int colour = ((y / 8) * (kWidth / 8) + x / 8) * 23 % 256;
      for (int c = 0; c < channels; ++c)
        pixels.samples.push_back(uint16_t(levels[colour >> (2 * c) & 3]));
    }
  }
  return pixels;
}

// The middle 2 x 2 pixels of each block, 3 samples a pixel.
std::vector<uint16_t> Middles(const std::vector<uint16_t>& rgb) {
  std::vector<uint16_t> middles;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      if (x % 8 < 3 || x % 8 > 4 || y % 8 < 3 || y % 8 > 4) continue;
      for (int c = 0; c < 3; ++c) middles.push_back(rgb[(size_t(y) * kWidth + x) * 3 + c]);
    }
  }
  return middles;
}

class ColourRun : public ::testing::Test {
 protected:
  test::RunResult Run(const std::vector<std::string>& args) {
    return test::RunTavrel(args, dir_.path().string());
  }
  // A same-size PNG of input at the given depth, with or without /m.
  std::vector<uint16_t> Redraw(const std::string& input, int bits, bool keepMetadata) {
    std::vector<std::string> args = {"/c", "png",
                                     "/b", bits == 16 ? "48" : "24",
                                     "/w", std::to_string(kWidth),
                                     "/h", std::to_string(kHeight),
                                     "/o", "redrawn.png",
                                     input};
    if (keepMetadata) args.insert(args.begin(), "/m");
    const test::RunResult run = Run(args);
    EXPECT_EQ(run.status, 0) << run.err;
    test::PngPixels pixels;
    EXPECT_TRUE(test::ReadPng(dir_ / "redrawn.png", &pixels));
    EXPECT_EQ(pixels.channels, 3);
    return pixels.samples;
  }
  void WriteTaggedPng(const std::string& name, int bits, const Bytes& icc) {
    test::PngPixels pixels = Blocks(bits, 3);
    pixels.icc = icc;
    ASSERT_TRUE(test::WritePng(dir_ / name, pixels));
  }
  // Checks that input, tagged with icc, is drawn as lcms converts the
  // samples /m leaves alone.
  void ExpectMatched(const std::string& input, int bits, const Bytes& icc) {
    const std::vector<uint16_t> stored = Middles(Redraw(input, bits, true));
    const std::vector<uint16_t> matched = Middles(Redraw(input, bits, false));
    const std::vector<uint16_t> expected = ToSrgb(icc, stored, bits, false);
    // The fixed-point round trip may land a level or two away.
    // The fixed-point round trip may land a level or two away (three for
    // BT.2020, far outside sRGB).
    EXPECT_LE(MaxDifference(matched, expected), bits == 16 ? 2 * 257 : 3) << input;
    EXPECT_GT(MaxDifference(matched, stored), bits == 16 ? 10 * 257 : 10) << input;
  }

  test::TempDir dir_;
};

struct Tagged {
  const char* codec;
  int bits;
  const char* profile;  // "adobe", "p3", "bt2020"
};

TEST_F(ColourRun, TaggedSourcesAreDrawnAsLcmsConvertsThem) {
  const Bytes adobe = test::ReadFileBytes(kAdobe);
  const Bytes p3 = Save(MakeRgbProfile(kP3).get());
  const Bytes bt2020 = Save(MakeRgbProfile(kBt2020).get());
  const Tagged cases[] = {{"png", 8, "adobe"}, {"png", 16, "p3"},     {"jpeg", 8, "adobe"},
                          {"jpeg", 8, "p3"},   {"tiff", 8, "bt2020"}, {"tiff", 16, "adobe"},
                          {"webp", 8, "p3"},   {"heic", 8, "adobe"},  {"jxl", 16, "p3"},
                          {"jxl", 8, "adobe"}};
  for (const Tagged& c : cases) {
    const std::string profile = c.profile;
    const Bytes& icc = profile == "adobe" ? adobe : profile == "p3" ? p3 : bt2020;
    WriteTaggedPng("tagged.png", c.bits, icc);
    if (std::string(c.codec) == "png") {
      ExpectMatched("tagged.png", c.bits, icc);
      continue;
    }
    // /m carries the profile into the other format (JPEG XL lossless, which
    // keeps the samples in it).
    const std::string converted = std::string("converted.") + c.codec;
    const bool jxl = std::string(c.codec) == "jxl";
    const test::RunResult run =
        Run({"/m", "/c", c.codec, "/b", c.bits == 16 ? "48" : "24", "/q", jxl ? "101" : "100", "/w",
             std::to_string(kWidth), "/o", converted, "tagged.png"});
    ASSERT_EQ(run.status, 0) << c.codec << ": " << run.err;
    ExpectMatched(converted, c.bits, icc);
  }
  // With /m the stored samples are drawn as if untagged.
  WriteTaggedPng("tagged.png", 16, adobe);
  WriteTaggedPng("plain.png", 16, {});
  EXPECT_EQ(Redraw("tagged.png", 16, true), Redraw("plain.png", 16, true));
}

TEST_F(ColourRun, SrgbTaggedSourcesComeOutAsUntaggedOnes) {
  const Bytes srgb = test::ReadFileBytes(kSrgb);
  for (int bits : {8, 16}) {
    WriteTaggedPng("plain.png", bits, {});
    WriteTaggedPng("srgb.png", bits, srgb);
    for (const char* codec : {"png", "jpeg"}) {
      const std::string out = std::string("out.") + codec;
      ASSERT_EQ(Run({"/c", codec, "/w", "40", "/o", "plain." + out, "plain.png"}).status, 0);
      ASSERT_EQ(Run({"/c", codec, "/w", "40", "/o", "srgb." + out, "srgb.png"}).status, 0);
      EXPECT_EQ(test::ReadFileBytes(dir_ / ("plain." + out)),
                test::ReadFileBytes(dir_ / ("srgb." + out)))
          << codec << " " << bits;
    }
  }
}

TEST_F(ColourRun, DamagedProfilesAreIgnoredQuietly) {
  Bytes damaged = test::ReadFileBytes(kAdobe);
  for (size_t i = 128; i < 132; ++i) damaged[i] = 0xFF;  // a tag count no file can hold
  test::WriteFileBytes(dir_ / "damaged.icc", damaged);
  WriteTaggedPng("plain.png", 8, {});
  ASSERT_EQ(Run({"/c", "jpeg", "/w", "48", "/o", "plain.jpg", "plain.png"}).status, 0);
  ASSERT_EQ(test::RunProgram(
                {"exiftool", "-q", "-icc_profile<=damaged.icc", "-o", "damaged.jpg", "plain.jpg"},
                dir_.path().string())
                .status,
            0);
  const test::RunResult run = Run({"/c", "png", "/w", "40", "/o", "damaged.png", "damaged.jpg"});
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  ASSERT_EQ(Run({"/c", "png", "/w", "40", "/o", "plain.out.png", "plain.jpg"}).status, 0);
  EXPECT_EQ(test::ReadFileBytes(dir_ / "damaged.png"), test::ReadFileBytes(dir_ / "plain.out.png"));
}

uint32_t ReadBig32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

void PutBig32(uint32_t v, Bytes* b, size_t at) {
  for (int i = 0; i < 4; ++i) (*b)[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
}

// The P3 profile with its tone curves replaced by a parametric curve of
// type 1, Y = (32767 X)^32767: infinite for all but black. lcms itself
// writes such a curve as a plain gamma, so the bytes are put in by hand.
Bytes ProfileWithEndlessCurves() {
  Bytes icc = Save(MakeRgbProfile(kP3).get());
  const uint32_t at = uint32_t(icc.size());
  const uint32_t kMost = 0x7FFF0000;  // 32767 in s15.16
  const Bytes para = {'p', 'a', 'r', 'a', 0, 0, 0, 0, 0, 1, 0, 0};
  icc.insert(icc.end(), para.begin(), para.end());
  icc.resize(icc.size() + 12);
  PutBig32(kMost, &icc, at + 12);  // g
  PutBig32(kMost, &icc, at + 16);  // a; b stays 0
  for (uint32_t i = 0, tags = ReadBig32(icc, 128); i < tags; ++i) {
    const size_t entry = 132 + 12 * size_t(i);
    const std::string tag(icc.begin() + std::ptrdiff_t(entry),
                          icc.begin() + std::ptrdiff_t(entry + 4));
    if (tag != "rTRC" && tag != "gTRC" && tag != "bTRC") continue;
    PutBig32(at, &icc, entry + 4);
    PutBig32(24, &icc, entry + 8);
  }
  PutBig32(uint32_t(icc.size()), &icc, 0);
  return icc;
}

// Such a profile is not used, in every format that carries one; nothing
// fails or prints.
TEST_F(ColourRun, ProfilesWithInfiniteCurvesAreIgnored) {
  const Bytes icc = ProfileWithEndlessCurves();
  WriteTaggedPng("plain.png", 8, {});
  WriteTaggedPng("endless.png", 8, icc);
  for (const char* codec : {"png", "jpeg", "tiff", "webp"}) {
    const std::string ext = std::string(".") + codec;
    for (const char* name : {"plain", "endless"}) {
      // PNG into PNG replaces the source.
      ASSERT_EQ(Run({"//in-place", "/m", "/c", codec, "/q", "100", "/w", std::to_string(kWidth),
                     "/o", name + ext, std::string(name) + ".png"})
                    .status,
                0);
    }
    const test::RunResult run =
        Run({"/c", "png", "/w", "40", "/o", "endless.out.png", "endless" + ext});
    EXPECT_EQ(run.status, 0) << codec;
    EXPECT_EQ(run.err, "") << codec;
    ASSERT_EQ(Run({"/c", "png", "/w", "40", "/o", "plain.out.png", "plain" + ext}).status, 0);
    EXPECT_EQ(test::ReadFileBytes(dir_ / "endless.out.png"),
              test::ReadFileBytes(dir_ / "plain.out.png"))
        << codec;
  }
}

// An AVIF whose coded primaries say Display P3.
TEST_F(ColourRun, CodedPrimariesAreHonoured) {
  const test::PngPixels pattern = Blocks(8, 3);
  heif_context* context = heif_context_alloc();
  heif_image* image = nullptr;
  ASSERT_EQ(
      heif_image_create(kWidth, kHeight, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image)
          .code,
      heif_error_Ok);
  heif_image_add_plane(image, heif_channel_interleaved, kWidth, kHeight, 8);
  int stride = 0;
  uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth * 3; ++x)
      plane[y * stride + x] = uint8_t(pattern.samples[y * kWidth * 3 + x]);
  }
  heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
  nclx->color_primaries = heif_color_primaries_SMPTE_EG_432_1;
  nclx->transfer_characteristics = heif_transfer_characteristic_IEC_61966_2_1;
  nclx->matrix_coefficients = heif_matrix_coefficients_ITU_R_BT_601_6;
  nclx->full_range_flag = 1;
  heif_image_set_nclx_color_profile(image, nclx);
  heif_encoder* encoder = nullptr;
  ASSERT_EQ(heif_context_get_encoder_for_format(context, heif_compression_AV1, &encoder).code,
            heif_error_Ok);
  heif_encoding_options* options = heif_encoding_options_alloc();
  options->output_nclx_profile = nclx;
  ASSERT_EQ(heif_context_encode_image(context, image, encoder, options, nullptr).code,
            heif_error_Ok);
  ASSERT_EQ(heif_context_write_to_file(context, (dir_ / "p3.avif").c_str()).code, heif_error_Ok);
  heif_encoding_options_free(options);
  heif_encoder_release(encoder);
  heif_nclx_color_profile_free(nclx);
  heif_image_release(image);
  heif_context_free(context);
  ExpectMatched("p3.avif", 8, Save(MakeRgbProfile(kP3).get()));
  // With /m the samples stay as coded, described by a profile made from the
  // coded description: shown through it, they are what the plain run drew.
  const std::vector<uint16_t> stored = Middles(Redraw("p3.avif", 8, true));
  const std::string written =
      test::RunProgram({"exiftool", "-b", "-ICC_Profile", (dir_ / "redrawn.png").string()}).out;
  ASSERT_FALSE(written.empty());
  EXPECT_LE(MaxDifference(ToSrgb(Bytes(written.begin(), written.end()), stored, 8, false),
                          Middles(Redraw("p3.avif", 8, false))),
            2);

  // Reserved primaries (3): no description at all, and nothing of it kept.
  Bytes reserved = test::ReadFileBytes(dir_ / "p3.avif");
  const Bytes nclxBox = {'c', 'o', 'l', 'r', 'n', 'c', 'l', 'x'};
  const auto box = std::search(reserved.begin(), reserved.end(), nclxBox.begin(), nclxBox.end());
  ASSERT_NE(box, reserved.end());
  box[8] = 0;
  box[9] = 3;
  test::WriteFileBytes(dir_ / "reserved.avif", reserved);
  EXPECT_EQ(Redraw("reserved.avif", 8, false), Redraw("reserved.avif", 8, true));
}

// A CMYK JPEG in the Adobe way (inverted, with its APP14 segment) with a
// CMYK profile: compared with lcms's conversion of libjpeg's own decoding.
TEST_F(ColourRun, CmykJpegGoesThroughItsProfile) {
  const Bytes icc = Save(MakeCmykProfile().get());
  const test::PngPixels pattern = Blocks(8, 4);
  std::vector<uint8_t> inks(pattern.samples.size());
  for (size_t i = 0; i < inks.size(); ++i) inks[i] = uint8_t(255 - pattern.samples[i]);
  jpeg_compress_struct out{};
  jpeg_error_mgr errors{};
  out.err = jpeg_std_error(&errors);
  jpeg_create_compress(&out);
  unsigned char* file = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&out, &file, &size);
  out.image_width = kWidth;
  out.image_height = kHeight;
  out.input_components = 4;
  out.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&out);
  jpeg_set_quality(&out, 95, TRUE);
  jpeg_start_compress(&out, TRUE);
  jpeg_write_icc_profile(&out, icc.data(), unsigned(icc.size()));
  std::vector<JSAMPROW> rows;
  for (int y = 0; y < kHeight; ++y) rows.push_back(inks.data() + y * kWidth * 4);
  jpeg_write_scanlines(&out, rows.data(), kHeight);
  jpeg_finish_compress(&out);
  jpeg_destroy_compress(&out);
  test::WriteFileBytes(dir_ / "cmyk.jpg", Bytes(file, file + size));

  jpeg_decompress_struct in{};
  in.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&in);
  jpeg_mem_src(&in, file, size);
  jpeg_read_header(&in, TRUE);
  in.out_color_space = JCS_CMYK;
  jpeg_start_decompress(&in);
  std::vector<uint8_t> decoded(size_t(kWidth) * kHeight * 4);
  for (int y = 0; y < kHeight; ++y) rows[size_t(y)] = decoded.data() + y * kWidth * 4;
  while (in.output_scanline < in.output_height) {
    jpeg_read_scanlines(&in, rows.data() + in.output_scanline, kHeight - in.output_scanline);
  }
  jpeg_finish_decompress(&in);
  jpeg_destroy_decompress(&in);
  free(file);
  std::vector<uint16_t> cmyk(decoded.size());
  for (size_t i = 0; i < cmyk.size(); ++i) cmyk[i] = uint16_t(255 - decoded[i]);
  const std::vector<uint16_t> expected = ToSrgb(icc, cmyk, 8, true);
  EXPECT_LE(MaxDifference(Middles(Redraw("cmyk.jpg", 8, false)), Middles(expected)), 2);
  // With /m as well; the CMYK profile, which cannot describe RGB, stays
  // behind.
  const std::vector<uint16_t> kept = Redraw("cmyk.jpg", 8, true);
  EXPECT_EQ(
      test::RunProgram({"exiftool", "-b", "-ICC_Profile", (dir_ / "redrawn.png").string()}).out,
      "");
  EXPECT_EQ(kept, Redraw("cmyk.jpg", 8, false));
}

}  // namespace
