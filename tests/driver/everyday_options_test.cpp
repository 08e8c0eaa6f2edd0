// The everyday long options through the real program: //upright, /c auto,
// //fit and //fill, //version, //progressive and //subsampling, //drop, and
// pipes on either side. Pixels are compared decoded (libpng, libjpeg), never
// through the program's own codecs alone.
#include <gtest/gtest.h>

#include <jpeglib.h>
#include <lcms2.h>
#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "png_files.h"
#include "test_support.h"

namespace {

using test::PngPixels;
using test::RunResult;

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

class EverydayOptions : public ::testing::Test {
 protected:
  RunResult Run(const std::vector<std::string>& args) {
    return test::RunTavrel(args, dir_.path().string());
  }
  // The command line's words given to a shell, after "tavrel".
  RunResult Shell(const std::string& line) {
    return test::RunProgram({"sh", "-c", line}, dir_.path().string());
  }
  PngPixels Png(const std::string& name) {
    PngPixels p;
    EXPECT_TRUE(test::ReadPng(dir_ / name, &p)) << name;
    return p;
  }
  bool Exists(const std::string& name) { return std::filesystem::exists(dir_ / name); }
  std::vector<uint8_t> Bytes(const std::string& name) { return test::ReadFileBytes(dir_ / name); }

  test::TempDir dir_;
};

// The upright picture of one stored as orientation says, worked out here
// from the orientation's definition: where row 0 and column 0 are shown.
PngPixels UprightByHand(const PngPixels& s, int orientation) {
  const bool sideways = orientation >= 5;
  PngPixels u = s;
  u.width = sideways ? s.height : s.width;
  u.height = sideways ? s.width : s.height;
  for (int32_t y = 0; y < u.height; ++y) {
    for (int32_t x = 0; x < u.width; ++x) {
      int32_t sx = x, sy = y;
      switch (orientation) {
        case 2:
          sx = s.width - 1 - x;
          break;
        case 3:
          sx = s.width - 1 - x;
          sy = s.height - 1 - y;
          break;
        case 4:
          sy = s.height - 1 - y;
          break;
        case 5:
          sx = y;
          sy = x;
          break;
        case 6:
          sx = y;
          sy = s.height - 1 - x;
          break;
        case 7:
          sx = s.width - 1 - y;
          sy = s.height - 1 - x;
          break;
        case 8:
          sx = s.width - 1 - y;
          sy = x;
          break;
      }
      for (int32_t c = 0; c < s.channels; ++c) {
        u.samples[(size_t(y) * u.width + x) * u.channels + c] = s.At(sy, sx)[c];
      }
    }
  }
  return u;
}

void ExpectSamePixels(const PngPixels& a, const PngPixels& b) {
  ASSERT_EQ(a.width, b.width);
  ASSERT_EQ(a.height, b.height);
  ASSERT_EQ(a.channels, b.channels);
  EXPECT_TRUE(a.samples == b.samples);
}

// A PNG whose EXIF, or else its XMP, states the orientation.
void PlantOrientation(const std::filesystem::path& path, int orientation, bool inXmp) {
  auto image = Exiv2::ImageFactory::open(path.string());
  if (inXmp) {
    Exiv2::XmpData xmp;
    xmp["Xmp.tiff.Orientation"] = uint16_t(orientation);
    image->setXmpData(xmp);
  } else {
    Exiv2::ExifData exif;
    exif["Exif.Image.Orientation"] = uint16_t(orientation);
    image->setExifData(exif);
  }
  image->writeMetadata();
}

TEST_F(EverydayOptions, UprightReordersTheStoredPixelsThenResizes) {
  const PngPixels stored = test::MakeTestPattern(9, 5, 8, 3);
  for (int m = 1; m <= 10; ++m) {
    const int n = m <= 8 ? m : m - 4;  // 9 and 10: 5 and 6 stated in XMP
    SCOPED_TRACE(m);
    ASSERT_TRUE(test::WritePng(dir_ / "stored.png", stored));
    PlantOrientation(dir_ / "stored.png", n, m > 8);
    ASSERT_TRUE(test::WritePng(dir_ / "upright.png", UprightByHand(stored, n)));
    // /w refers to the upright picture; its pixels are resized as if they
    // had been stored upright.
    for (const char* width : {"6", "9", "17"}) {
      ASSERT_EQ(Run({"/w", width, "/c", "png", "/o", "a.png", "upright.png"}).status, 0);
      ASSERT_EQ(Run({"//upright", "/w", width, "/c", "png", "/o", "b.png", "stored.png"}).status,
                0);
      ExpectSamePixels(Png("b.png"), Png("a.png"));
    }
  }
}

TEST_F(EverydayOptions, UprightCameraSamplesShowTheSamePicture) {
  // Each sample shows its own digit over one photograph: put upright, all
  // lie close to the first, and far from its mirror image.
  for (const char* shape : {"portrait", "landscape"}) {
    const auto sample = [&](int n) {
      return test::DataPath("orientation/" + std::string(shape) + "_" + std::to_string(n) + ".jpg")
          .string();
    };
    const std::vector<std::string> box = {"//fill", "16", "20"};
    std::vector<std::string> first = box;
    first.insert(first.end(), {"//upright", "/c", "png", "/o", "1.png", sample(1)});
    ASSERT_EQ(Run(first).status, 0);
    const PngPixels one = Png("1.png");
    for (int n = 2; n <= 8; ++n) {
      SCOPED_TRACE(sample(n));
      std::vector<std::string> words = box;
      words.insert(words.end(), {"//upright", "/c", "png", "/o", "n.png", sample(n)});
      ASSERT_EQ(Run(words).status, 0);
      const PngPixels other = Png("n.png");
      ASSERT_EQ(other.samples.size(), one.samples.size());
      double near = 0, mirrored = 0;
      for (int32_t y = 0; y < one.height; ++y) {
        for (int32_t x = 0; x < one.width; ++x) {
          for (int32_t c = 0; c < one.channels; ++c) {
            near += std::abs(int(other.At(y, x)[c]) - int(one.At(y, x)[c]));
            mirrored += std::abs(int(other.At(y, x)[c]) - int(one.At(y, one.width - 1 - x)[c]));
          }
        }
      }
      const double count = double(one.samples.size());
      EXPECT_LT(near / count, 8.0);
      EXPECT_GT(mirrored / count, 20.0);
    }
  }
}

TEST_F(EverydayOptions, UprightWithMetadataSaysOrientationOneAndTheWrittenSize) {
  const std::string sample = test::DataPath("orientation/portrait_6.jpg");
  ASSERT_EQ(Run({"//upright", "/m", "/w", "12", "/o", "m.jpg", sample}).status, 0);
  const RunResult tags =
      test::RunProgram({"exiftool", "-s3", "-n", "-Orientation", "-ExifImageWidth",
                        "-ExifImageHeight", (dir_ / "m.jpg").string()});
  EXPECT_EQ(tags.out, "1\n12\n16\n");
  // Without //upright the orientation travels as it was.
  ASSERT_EQ(Run({"/m", "/w", "12", "/o", "plain.jpg", sample}).status, 0);
  EXPECT_EQ(
      test::RunProgram({"exiftool", "-s3", "-n", "-Orientation", (dir_ / "plain.jpg").string()})
          .out,
      "6\n");
}

TEST_F(EverydayOptions, AutoCodecFollowsTheOutputName) {
  ASSERT_TRUE(test::WritePng(dir_ / "in.png", test::MakeTestPattern(8, 6, 8, 3)));
  const std::string exporters = Run({"/?"}).err;
  struct Case {
    const char* name;
    std::string magic;  // the file's first bytes, from offset
    size_t offset;
  };
  const Case cases[] = {
      {"a.jpg", "\xFF\xD8\xFF", 0},  {"a.JPEG", "\xFF\xD8\xFF", 0}, {"a.jpe", "\xFF\xD8\xFF", 0},
      {"a.jfif", "\xFF\xD8\xFF", 0}, {"a.png", "\x89PNG", 0},       {"a.Png", "\x89PNG", 0},
      {"a.tif", "II*", 0},           {"a.tiff", "II*", 0},          {"a.webp", "WEBP", 8},
      {"a.heic", "ftyp", 4},         {"a.heif", "ftyp", 4},         {"a.avif", "ftypavif", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string ext = std::string(c.name).substr(2);
    const bool heif = ext == "heic" || ext == "heif";
    if ((heif && exporters.find("HEIC\theic") == std::string::npos) ||
        (ext == "avif" && exporters.find("AVIF\tavif") == std::string::npos)) {
      continue;  // no encoder on this machine
    }
    const RunResult r = Run({"/c", "auto", "/w", "4", "/o", c.name, "in.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<uint8_t> bytes = Bytes(c.name);
    ASSERT_GE(bytes.size(), c.offset + c.magic.size());
    EXPECT_EQ(std::string(bytes.begin() + c.offset, bytes.begin() + c.offset + c.magic.size()),
              c.magic);
  }
  for (const char* unknown : {"a.bmp", "noextension", "dir.png/x"}) {
    const RunResult r = Run({"/c", "auto", "/w", "4", "/o", unknown, "in.png"});
    EXPECT_EQ(r.status, uint8_t(-2003));
    EXPECT_EQ(r.err, "Error \"" + std::string(unknown) + "\": can't find handler (-2003)\n");
    EXPECT_FALSE(Exists(unknown));
  }
}

TEST_F(EverydayOptions, FitAndFillSizesAndTheCropsBytes) {
  ASSERT_TRUE(test::WritePng(dir_ / "in.png", test::MakeTestPattern(40, 30, 8, 3)));
  struct Case {
    const char* option;
    int box[2];
    int size[2];   // written
    int cover[2];  // //fill: the full resize, 0 for //fit
  };
  const Case cases[] = {
      {"//fit", {20, 20}, {20, 15}, {0, 0}},    {"//fit", {20, 10}, {13, 10}, {0, 0}},
      {"//fit", {100, 100}, {40, 30}, {0, 0}},  {"//fit", {50, 20}, {27, 20}, {0, 0}},
      {"//fit", {40, 1}, {1, 1}, {0, 0}},       {"//fill", {20, 20}, {20, 20}, {27, 20}},
      {"//fill", {10, 30}, {10, 30}, {40, 30}}, {"//fill", {30, 5}, {30, 5}, {30, 23}},
      {"//fill", {80, 40}, {80, 40}, {80, 60}},
  };
  for (const Case& c : cases) {
    // With pixel centres aligned too: the same sizes, the window cut from
    // the centre-aligned full resize, whose pixels are not the corners'.
    for (const bool centre : {false, true}) {
      auto with = [centre](std::vector<std::string> words) {
        if (centre) words.insert(words.begin(), "//centre");
        return words;
      };
      const std::string w = std::to_string(c.box[0]), h = std::to_string(c.box[1]);
      SCOPED_TRACE(std::string(c.option) + " " + w + " " + h + (centre ? " //centre" : ""));
      const RunResult r = Run(with({c.option, w, h, "/c", "png", "/o", "out.png", "in.png"}));
      ASSERT_EQ(r.status, 0) << r.err;
      const PngPixels out = Png("out.png");
      EXPECT_EQ(out.width, c.size[0]);
      EXPECT_EQ(out.height, c.size[1]);
      if (c.cover[0] == 0) continue;
      const std::string cw = std::to_string(c.cover[0]), ch = std::to_string(c.cover[1]);
      ASSERT_EQ(Run(with({"/w", cw, "/h", ch, "/c", "png", "/o", "full.png", "in.png"})).status, 0);
      const PngPixels full = Png("full.png");
      if (centre && c.cover[0] != 40) {  // a resize, not the source itself
        ASSERT_EQ(Run({"/w", cw, "/h", ch, "/c", "png", "/o", "corners.png", "in.png"}).status, 0);
        EXPECT_TRUE(Bytes("full.png") != Bytes("corners.png")) << "the alignment was not used";
      }
      const int left = (c.cover[0] - c.size[0]) / 2, top = (c.cover[1] - c.size[1]) / 2;
      bool same = true;
      for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
          for (int k = 0; k < out.channels; ++k)
            same &= out.At(y, x)[k] == full.At(y + top, x + left)[k];
        }
      }
      EXPECT_TRUE(same) << "the centre of the full resize";
    }
  }
}

TEST_F(EverydayOptions, BadArgumentsAreNamedCountedAndNothingIsWritten) {
  ASSERT_TRUE(test::WritePng(dir_ / "in.png", test::MakeTestPattern(8, 6, 8, 3)));
  struct Case {
    std::vector<std::string> words;
    int status;
    std::string firstLines;
  };
  const Case cases[] = {
      {{"//fit", "0", "5"}, 2, "Invalid argument for flag \"-fit\": \"0\"\n"},
      {{"//fill", "-4", "x9"},
       3,
       "Invalid argument for flag \"-fill\": \"-4\"\nInvalid argument for flag \"-fill\": "
       "\"x9\"\n"},
      {{"//fit", "5"}, 2, "Expected argument for flag \"-fit\"\n"},
      {{"//fit", "5", "5", "/w", "3"},
       1,
       "Redundant size specification with percent and width/height\n"},
      {{"//fill", "5", "5", "/%", "50"},
       1,
       "Redundant size specification with percent and width/height\n"},
      {{"/w", "3", "//subsampling", "411"},
       1,
       "Invalid argument for flag \"-subsampling\": \"411\"\n"},
      {{"/w", "3", "//effort", "10"}, 1, "Invalid argument for flag \"-effort\": \"10\"\n"},
      {{"/w", "3", "/m", "//drop", "gps,face,xmp,"},
       2,
       "Invalid argument for flag \"-drop\": \"face\"\nInvalid argument for flag \"-drop\": "
       "\"\"\n"},
      {{"/w", "3", "/m", "//keep", "icc,face"},
       1,
       "Invalid argument for flag \"-keep\": \"face\"\n"},
      {{"/w", "3", "/M", "-"},
       1,
       "The image and the metadata dump cannot both go to the standard output\n"},
  };
  for (const Case& c : cases) {
    const bool toStdout = c.words.back() == "-";
    std::vector<std::string> words = {"/o", toStdout ? "-" : "out.png", "in.png"};
    words.insert(words.end(), c.words.begin(), c.words.end());
    SCOPED_TRACE(c.words[0] + " " + c.words[1]);
    const RunResult r = Run(words);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_TRUE(StartsWith(r.err, c.firstLines)) << r.err;
    EXPECT_NE(r.err.find("Usage: "), std::string::npos);
    EXPECT_FALSE(Exists("out.png"));
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(EverydayOptions, VersionAloneSucceeds) {
  const std::string banner = "tavrel $Revision: 1.31 $";
  for (const char* word : {"//version", "--version"}) {
    const RunResult r = Run({word});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(StartsWith(r.err, banner)) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line";
  }
  // As specified: /V alone is a command line without input, output or size.
  const RunResult v = Run({"/V"});
  EXPECT_EQ(v.status, 3);
  // With a job, the banner comes first and the job runs.
  ASSERT_TRUE(test::WritePng(dir_ / "in.png", test::MakeTestPattern(8, 6, 8, 3)));
  const RunResult job = Run({"//version", "/w", "4", "/o", "out.png", "/c", "png", "in.png"});
  EXPECT_EQ(job.status, 0);
  EXPECT_TRUE(Exists("out.png"));
}

struct JpegHeader {
  bool progressive = false;
  int lumaH = 0, lumaV = 0, chromaH = 0, chromaV = 0;
};

struct JpegFailure {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

bool ReadJpegHeader(const std::vector<uint8_t>& bytes, JpegHeader* header) {
  jpeg_decompress_struct info{};
  JpegFailure failure;
  info.err = jpeg_std_error(&failure.manager);
  failure.manager.error_exit = [](j_common_ptr c) {
    std::longjmp(reinterpret_cast<JpegFailure*>(c->err)->jump, 1);
  };
  if (setjmp(failure.jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  header->progressive = info.progressive_mode != 0;
  header->lumaH = info.comp_info[0].h_samp_factor;
  header->lumaV = info.comp_info[0].v_samp_factor;
  header->chromaH = info.comp_info[1].h_samp_factor;
  header->chromaV = info.comp_info[1].v_samp_factor;
  jpeg_destroy_decompress(&info);
  return true;
}

// The samples of a JPEG, decoded by libjpeg as its file says.
std::vector<uint8_t> JpegSamples(const std::vector<uint8_t>& bytes) {
  jpeg_decompress_struct info{};
  JpegFailure failure;
  info.err = jpeg_std_error(&failure.manager);
  failure.manager.error_exit = [](j_common_ptr c) {
    std::longjmp(reinterpret_cast<JpegFailure*>(c->err)->jump, 1);
  };
  std::vector<uint8_t> samples;
  if (setjmp(failure.jump)) {
    jpeg_destroy_decompress(&info);
    return {};
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  jpeg_start_decompress(&info);
  const size_t row = size_t(info.output_width) * info.output_components;
  samples.resize(row * info.output_height);
  while (info.output_scanline < info.output_height) {
    JSAMPROW at = samples.data() + row * info.output_scanline;
    jpeg_read_scanlines(&info, &at, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return samples;
}

TEST_F(EverydayOptions, ProgressiveAndSubsamplingReachTheJpegFile) {
  ASSERT_TRUE(test::WritePng(dir_ / "in.png", test::MakeTestPattern(40, 30, 8, 3)));
  struct Case {
    std::vector<std::string> words;
    bool progressive;
    int lumaH, lumaV;
  };
  const Case cases[] = {
      {{}, false, 2, 2},  // quality 75: 4:2:0, as before
      {{"/q", "95"}, false, 1, 1},
      {{"//progressive"}, true, 2, 2},
      {{"//web"}, true, 2, 2},
      {{"//subsampling", "444"}, false, 1, 1},
      {{"//subsampling", "422"}, false, 2, 1},
      {{"/q", "95", "//subsampling", "420", "//progressive"}, true, 2, 2},
  };
  for (const Case& c : cases) {
    std::vector<std::string> words = c.words;
    words.insert(words.end(), {"/w", "20", "/o", "out.jpg", "in.png"});
    SCOPED_TRACE(words[0]);
    ASSERT_EQ(Run(words).status, 0);
    JpegHeader h;
    ASSERT_TRUE(ReadJpegHeader(Bytes("out.jpg"), &h));
    EXPECT_EQ(h.progressive, c.progressive);
    EXPECT_EQ(h.lumaH, c.lumaH);
    EXPECT_EQ(h.lumaV, c.lumaV);
    EXPECT_EQ(h.chromaH, 1);
    EXPECT_EQ(h.chromaV, 1);
  }
  // Progressive scans and tables made for the image change the bytes, never
  // the pixels.
  ASSERT_EQ(Run({"/w", "20", "/o", "baseline.jpg", "in.png"}).status, 0);
  ASSERT_EQ(Run({"//progressive", "/w", "20", "/o", "progressive.jpg", "in.png"}).status, 0);
  EXPECT_NE(Bytes("progressive.jpg"), Bytes("baseline.jpg"));
  const std::vector<uint8_t> baseline = JpegSamples(Bytes("baseline.jpg"));
  EXPECT_FALSE(baseline.empty());
  EXPECT_EQ(JpegSamples(Bytes("progressive.jpg")), baseline);
  // Other exporters take no notice.
  const RunResult png = Run(
      {"//progressive", "//subsampling", "422", "/w", "20", "/c", "png", "/o", "o.png", "in.png"});
  EXPECT_EQ(png.status, 0);
  EXPECT_EQ(png.err, "");
  ASSERT_EQ(Run({"/w", "20", "/c", "png", "/o", "plain.png", "in.png"}).status, 0);
  EXPECT_EQ(Bytes("o.png"), Bytes("plain.png"));
}

// "//effort" reaches each encoder that trades time for bytes: the effort
// that maps onto the encoder's own default writes its default bytes, another
// effort other bytes; JPEG has no such trade and takes no notice.
TEST_F(EverydayOptions, EffortReachesTheEncoders) {
  ASSERT_TRUE(test::WritePng(dir_ / "in.png", test::MakeTestPattern(64, 48, 8, 3)));
  const struct {
    std::string codec, asDefault, other;
  } cases[] = {
      {"webp", "6", "0"},                      // method 4
      {"avif", "3", "0"},                      // libaom speed 6
      {"jxl", "7", "1"},  {"heic", "6", "0"},  // x265 "slow"
      {"jpg", "0", "9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codec);
    auto write = [&](const std::string& name, const std::vector<std::string>& effort) {
      std::vector<std::string> words = {"/w", "48", "/c", c.codec, "/o", name, "in.png"};
      words.insert(words.begin(), effort.begin(), effort.end());
      const RunResult r = Run(words);
      EXPECT_EQ(r.status, 0) << r.err;
      return Bytes(name);
    };
    const std::vector<uint8_t> plain = write("plain." + c.codec, {});
    EXPECT_EQ(write("same." + c.codec, {"//effort", c.asDefault}), plain);
    const std::vector<uint8_t> other = write("other." + c.codec, {"//effort", c.other});
    EXPECT_EQ(other == plain, c.codec == "jpg");
  }
}

// A camera JPEG (EXIF, GPS, maker note) with XMP, IPTC, a comment and an ICC
// profile planted.
void PlantEveryKind(const std::filesystem::path& path) {
  auto image = Exiv2::ImageFactory::open(path.string());
  image->readMetadata();
  image->exifData()["Exif.Image.Artist"] = "Planted artist";
  image->exifData()["Exif.Image.Copyright"] = "Planted exif notice";
  Exiv2::XmpData xmp;
  xmp["Xmp.dc.title"] = "Planted title";
  xmp["Xmp.dc.rights"] = "Planted rights";
  xmp["Xmp.dc.creator"] = "Planted creator";
  image->setXmpData(xmp);
  Exiv2::IptcData iptc;
  iptc["Iptc.Application2.Caption"] = "Planted caption";
  iptc["Iptc.Application2.Copyright"] = "Planted iptc notice";
  iptc["Iptc.Application2.Byline"] = "Planted byline";
  image->setIptcData(iptc);
  image->setComment("Planted comment");
  cmsHPROFILE srgb = cmsCreate_sRGBProfile();
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(srgb, nullptr, &size);
  Exiv2::DataBuf icc{static_cast<long>(size)};
  cmsSaveProfileToMem(srgb, icc.pData_, &size);
  cmsCloseProfile(srgb);
  image->setIccProfile(icc);
  image->writeMetadata();
}

TEST_F(EverydayOptions, DropLeavesOutEachKindAndKeepTakesOnlyThose) {
  std::filesystem::copy_file(test::DataPath("exif/gps_DSCN0010.jpg"), dir_ / "in.jpg");
  PlantEveryKind(dir_ / "in.jpg");
  // What exiftool reports: "[Group] Tag : value" lines.
  auto groups = [&](const std::string& name) {
    return test::RunProgram({"exiftool", "-G0", "-s", (dir_ / name).string()}).out;
  };
  const std::string exif[] = {" Make ", "GPSLatitude", "ExposureTime", "[MakerNotes]"};
  const std::string rights[] = {"Planted artist",  "Planted exif notice", "Planted rights",
                                "Planted creator", "Planted iptc notice", "Planted byline"};
  std::vector<std::string> marks(std::begin(exif), std::end(exif));
  marks.insert(marks.end(),
               {"Planted title", "Planted caption", "Planted comment", "[ICC_Profile]"});
  marks.insert(marks.end(), std::begin(rights), std::end(rights));
  ASSERT_EQ(Run({"/m", "/w", "16", "/o", "all.jpg", "in.jpg"}).status, 0);
  const std::string all = groups("all.jpg");
  for (const std::string& mark : marks) ASSERT_NE(all.find(mark), std::string::npos) << mark;

  struct Case {
    const char* flag;
    const char* words;
    std::vector<std::string> left;  // with //drop what goes, with //keep what stays
  };
  const Case cases[] = {
      {"//drop", "gps", {"GPSLatitude"}},
      {"//drop",
       "exif",
       {" Make ", "GPSLatitude", "ExposureTime", "[MakerNotes]", "Planted artist",
        "Planted exif notice"}},
      {"//drop", "makernotes", {"[MakerNotes]"}},
      {"//drop", "xmp", {"Planted title", "Planted rights", "Planted creator"}},
      {"//drop", "iptc", {"Planted caption", "Planted iptc notice", "Planted byline"}},
      {"//drop", "comment", {"Planted comment"}},
      {"//drop", "icc", {"[ICC_Profile]"}},
      {"//drop",
       "gps,xmp,icc",
       {"GPSLatitude", "Planted title", "Planted rights", "Planted creator", "[ICC_Profile]"}},
      {"//drop", "copyright", {std::begin(rights), std::end(rights)}},
      // Each of a kept kind travels, though it is of a left-out kind too.
      {"//keep",
       "icc,copyright",
       {"[ICC_Profile]", "Planted artist", "Planted exif notice", "Planted iptc notice",
        "Planted byline"}},
      {"//keep",
       "exif",
       {" Make ", "GPSLatitude", "ExposureTime", "[MakerNotes]", "Planted artist",
        "Planted exif notice"}},
      {"//keep",
       "exif,copyright",
       {" Make ", "GPSLatitude", "ExposureTime", "[MakerNotes]", "Planted artist",
        "Planted exif notice", "Planted iptc notice", "Planted byline"}},
      {"//keep", "xmp", {"Planted title"}},
      {"//keep", "iptc,comment", {"Planted caption", "Planted comment"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.flag) + " " + c.words);
    const RunResult r = Run({"/m", c.flag, c.words, "/w", "16", "/o", "out.jpg", "in.jpg"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string out = groups("out.jpg");
    const bool keep = std::string_view(c.flag) == "//keep";
    for (const std::string& mark : marks) {
      const bool listed = std::find(c.left.begin(), c.left.end(), mark) != c.left.end();
      EXPECT_EQ(out.find(mark) == std::string::npos, listed != keep) << mark;
    }
  }
}

TEST_F(EverydayOptions, DroppingTheProfileKeepsTheColoursRight) {
  // A wide-gamut source: its samples mean other colours than sRGB's.
  cmsCIExyY white;
  cmsWhitePointFromTemp(&white, 6504);
  const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
  cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
  cmsToneCurve* curves[3] = {gamma, gamma, gamma};
  cmsHPROFILE wide = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsFreeToneCurve(gamma);
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(wide, nullptr, &size);
  PngPixels source = test::MakeTestPattern(12, 9, 8, 3);
  source.icc.resize(size);
  cmsSaveProfileToMem(wide, source.icc.data(), &size);
  cmsCloseProfile(wide);
  ASSERT_TRUE(test::WritePng(dir_ / "in.png", source));

  ASSERT_EQ(Run({"/w", "5", "/c", "png", "/o", "plain.png", "in.png"}).status, 0);
  ASSERT_EQ(Run({"/m", "/w", "5", "/c", "png", "/o", "kept.png", "in.png"}).status, 0);
  ASSERT_EQ(
      Run({"/m", "//drop", "icc", "/w", "5", "/c", "png", "/o", "dropped.png", "in.png"}).status,
      0);
  EXPECT_FALSE(Png("kept.png").samples == Png("plain.png").samples) << "kept as stored";
  EXPECT_TRUE(Png("dropped.png").samples == Png("plain.png").samples) << "matched to sRGB";
}

TEST_F(EverydayOptions, PipesOnEitherSide) {
  ASSERT_TRUE(test::WritePng(dir_ / "in.png", test::MakeTestPattern(40, 30, 8, 3)));
  const RunResult toStdout = Run({"/w", "9", "/c", "png", "/o", "-", "in.png"});
  ASSERT_EQ(toStdout.status, 0) << toStdout.err;
  ASSERT_EQ(Run({"/w", "9", "/c", "png", "/o", "file.png", "in.png"}).status, 0);
  const std::vector<uint8_t> file = Bytes("file.png");
  EXPECT_EQ(std::vector<uint8_t>(toStdout.out.begin(), toStdout.out.end()), file);

  const std::string program = TAVREL_BINARY;
  for (const std::string& input :
       {(dir_ / "in.png").string(), test::DataPath("codecs/gradient_baseline.jpg").string(),
        test::DataPath("formats/rgb8_none.tif").string(),
        test::DataPath("formats/animated.webp").string(),
        test::DataPath("formats/animated.gif").string(),
        test::DataPath("formats/rgb8.heic").string()}) {
    SCOPED_TRACE(input);
    ASSERT_EQ(Run({"/w", "9", "/c", "png", "/o", "direct.png", input}).status, 0);
    const RunResult piped =
        Shell("cat '" + input + "' | '" + program + "' /w 9 /c png /o piped.png /dev/stdin");
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(Bytes("piped.png"), Bytes("direct.png"));
  }
  // A device whose start is no image is not read on.
  const RunResult zero = Run({"/w", "9", "/o", "z.png", "/dev/zero"});
  EXPECT_EQ(zero.status, 1);
  EXPECT_TRUE(StartsWith(zero.err, "Error code: \"/dev/zero\": -2003\n")) << zero.err;
}

}  // namespace
