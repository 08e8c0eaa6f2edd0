// Metadata through the real program: items planted with exiv2 in a source
// image, dumped with /M and carried over with /m, the output read back with
// exiv2 directly.
#include <gtest/gtest.h>

#include <libheif/heif.h>
#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "png_files.h"
#include "test_support.h"

namespace {

// A 1600 x 1200 PNG whose EXIF holds an orientation, a make and a focal
// plane X resolution of 2160000/700, and no Y resolution.
class MetadataRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::WritePng(dir_ / "in.png", test::MakeTestPattern(1600, 1200, 8, 3)));
    auto image = Exiv2::ImageFactory::open((dir_ / "in.png").string());
    Exiv2::ExifData exif;
    exif["Exif.Image.Orientation"] = uint16_t(6);
    exif["Exif.Image.Make"] = "Planted";
    exif["Exif.Photo.FocalPlaneXResolution"] = Exiv2::URational(2160000, 700);
    exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 60);
    image->setExifData(exif);
    Exiv2::XmpData xmp;
    xmp["Xmp.exif.PixelXDimension"] = uint32_t(1600);
    xmp["Xmp.tiff.ImageLength"] = uint32_t(1200);
    image->setXmpData(xmp);
    image->writeMetadata();
  }

  test::RunResult Run(const std::vector<std::string>& args) {
    return test::RunTavrel(args, dir_.path().string());
  }

  Exiv2::ExifData Output(const std::string& name) {
    auto image = Exiv2::ImageFactory::open((dir_ / name).string());
    image->readMetadata();
    return image->exifData();
  }

  Exiv2::XmpData OutputXmp(const std::string& name) {
    auto image = Exiv2::ImageFactory::open((dir_ / name).string());
    image->readMetadata();
    return image->xmpData();
  }

  std::string ExifTool(const std::string& name, const std::string& tag) {
    return test::RunProgram({"exiftool", "-s3", "-n", "-" + tag, (dir_ / name).string()}).out;
  }

  static std::string Value(const Exiv2::ExifData& exif, const char* key) {
    auto it = exif.findKey(Exiv2::ExifKey(key));
    return it == exif.end() ? "(absent)" : it->value().toString();
  }

  test::TempDir dir_;
};

TEST_F(MetadataRun, DumpShowsThePlantedItems) {
  const test::RunResult run = Run({"/M", "-", "/w", "10", "/o", "out.jpg", "in.png"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\nMeta-data:\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("                 Orientation [    2 bytes]: 6\n"), std::string::npos);
  EXPECT_NE(run.out.find("                        Make [    7 bytes]: Planted\n"),
            std::string::npos);
  EXPECT_NE(run.out.find("       FocalPlaneXResolution [    8 bytes]: 2160000/700\n"),
            std::string::npos);
  EXPECT_NE(run.out.find("                ExposureTime [    8 bytes]: 1/60\n"), std::string::npos);
}

TEST_F(MetadataRun, CopyFitsSizesAndResolutionAndKeepsTheRest) {
  for (const char* format : {"jpeg", "png", "tiff", "webp"}) {
    SCOPED_TRACE(format);
    const test::RunResult run =
        Run({"/m", "/c", format, "/w", "800", "/h", "600", "/o", "out.img", "in.png"});
    ASSERT_EQ(run.status, 0) << run.err;
    const Exiv2::ExifData exif = Output("out.img");
    EXPECT_EQ(Value(exif, "Exif.Photo.PixelXDimension"), "800");
    EXPECT_EQ(Value(exif, "Exif.Photo.PixelYDimension"), "600");
    // 21600/7 times 799/1599 and 599/1199, reduced.
    EXPECT_EQ(Value(exif, "Exif.Photo.FocalPlaneXResolution"), "5752800/3731");
    EXPECT_EQ(Value(exif, "Exif.Photo.FocalPlaneYResolution"), "12938400/8393");
    // A PNG takes the new software text as its own text chunk.
    if (std::string(format) == "png") {
      const std::vector<uint8_t> bytes = test::ReadFileBytes(dir_ / "out.img");
      const std::string chunk("tEXtSoftware\0Kelvane Studio tavrel", 34);
      EXPECT_NE(std::string(bytes.begin(), bytes.end()).find(chunk), std::string::npos);
    } else {
      EXPECT_EQ(Value(exif, "Exif.Image.Software"), "Kelvane Studio tavrel");
    }
    EXPECT_EQ(Value(exif, "Exif.Image.Orientation"), "6");
    EXPECT_EQ(Value(exif, "Exif.Image.Make"), "Planted");
    EXPECT_EQ(Value(exif, "Exif.Photo.ExposureTime"), "1/60");
    Exiv2::XmpData xmp = OutputXmp("out.img");
    EXPECT_EQ(xmp["Xmp.exif.PixelXDimension"].toString(), "800");
    EXPECT_EQ(xmp["Xmp.tiff.ImageLength"].toString(), "600");
  }
}

// The JFIF density of a JPEG source stays in the output's JFIF header,
// unless an EXIF resolution travels: the header then says what it says.
TEST_F(MetadataRun, JfifDensityFollowsTheResolutionThatTravels) {
  ASSERT_EQ(Run({"/w", "100", "/o", "plain.jpg", "in.png"}).status, 0);
  const auto SetTags = [&](const std::vector<std::string>& tags) {
    std::vector<std::string> argv = {"exiftool", "-q", "-overwrite_original"};
    argv.insert(argv.end(), tags.begin(), tags.end());
    argv.push_back((dir_ / "plain.jpg").string());
    ASSERT_EQ(test::RunProgram(argv).status, 0);
  };
  SetTags({"-JFIF:XResolution=300", "-JFIF:YResolution=150", "-JFIF:ResolutionUnit=inches"});
  ASSERT_EQ(Run({"/m", "/w", "50", "/o", "out.jpg", "plain.jpg"}).status, 0);
  EXPECT_EQ(ExifTool("out.jpg", "JFIF:XResolution"), "300\n");
  EXPECT_EQ(ExifTool("out.jpg", "JFIF:YResolution"), "150\n");
  EXPECT_EQ(ExifTool("out.jpg", "JFIF:ResolutionUnit"), "1\n");
  SetTags({"-IFD0:XResolution=72", "-IFD0:YResolution=72", "-IFD0:ResolutionUnit=inches"});
  ASSERT_EQ(Run({"/m", "/w", "50", "/o", "exif.jpg", "plain.jpg"}).status, 0);
  EXPECT_EQ(ExifTool("exif.jpg", "JFIF:XResolution"), "72\n");
  EXPECT_EQ(ExifTool("exif.jpg", "JFIF:YResolution"), "72\n");
  EXPECT_EQ(ExifTool("exif.jpg", "JFIF:ResolutionUnit"), "1\n");
  EXPECT_EQ(ExifTool("exif.jpg", "IFD0:XResolution"), "72\n");
}

struct HeifContextFree {
  void operator()(heif_context* c) const { heif_context_free(c); }
};

// A 32 x 16 picture, red on the left and blue on the right, stored with a
// container rotation of a quarter turn clockwise and an EXIF orientation 6,
// as phones write them. False when libheif has no encoder for the format.
bool WriteSidewaysHeif(const std::filesystem::path& path, heif_compression_format format) {
  std::unique_ptr<heif_context, HeifContextFree> context(heif_context_alloc());
  heif_encoder* encoder = nullptr;
  if (heif_context_get_encoder_for_format(context.get(), format, &encoder).code != 0) return false;
  heif_image* image = nullptr;
  heif_image_create(32, 16, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
  heif_image_add_plane(image, heif_channel_interleaved, 32, 16, 8);
  int stride = 0;
  uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 32; ++x) {
      uint8_t* p = plane + y * stride + x * 3;
      p[0] = x < 16 ? 255 : 0;
      p[1] = 0;
      p[2] = x < 16 ? 0 : 255;
    }
  }
  heif_encoder_set_lossy_quality(encoder, 90);
  heif_encoding_options* options = heif_encoding_options_alloc();
  options->image_orientation = heif_orientation_rotate_90_cw;
  heif_image_handle* handle = nullptr;
  bool ok = heif_context_encode_image(context.get(), image, encoder, options, &handle).code == 0;
  heif_encoding_options_free(options);
  heif_encoder_release(encoder);
  heif_image_release(image);
  Exiv2::ExifData exif;
  exif["Exif.Image.Orientation"] = uint16_t(6);
  Exiv2::Blob blob;
  Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
  ok = ok &&
       heif_context_add_exif_metadata(context.get(), handle, blob.data(), int(blob.size())).code ==
           0;
  heif_image_handle_release(handle);
  return ok && heif_context_write_to_file(context.get(), path.c_str()).code == 0;
}

// The importer turns the pixels upright: the orientation copied says so.
TEST_F(MetadataRun, ContainerRotationIsNotAppliedTwice) {
  for (auto [format, name] :
       {std::pair{heif_compression_HEVC, "in.heic"}, std::pair{heif_compression_AV1, "in.avif"}}) {
    SCOPED_TRACE(name);
    if (!WriteSidewaysHeif(dir_ / name, format)) continue;
    const test::RunResult run = Run({"/m", "/c", "png", "/w", "16", "/o", "out.png", name});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ExifTool("out.png", "IFD0:Orientation"), "1\n");
    test::PngPixels pixels;
    ASSERT_TRUE(test::ReadPng(dir_ / "out.png", &pixels));
    ASSERT_EQ(pixels.width, 16);
    ASSERT_EQ(pixels.height, 32);
    // The left half, turned clockwise, is the top half.
    EXPECT_GT(pixels.At(4, 8)[0], pixels.At(4, 8)[2]);
    EXPECT_LT(pixels.At(28, 8)[0], pixels.At(28, 8)[2]);
  }
}

// HEIF readers ignore the Exif orientation: a HEIC or AVIF copy of a JPEG
// stored on its side (32 x 24 upright) is written upright, with no
// transformation property and orientation 1.
TEST_F(MetadataRun, HeifCopiesOfAnOrientedPictureAreUpright) {
  std::filesystem::copy_file(test::DataPath("orientation/landscape_6.jpg"), dir_ / "side.jpg");
  for (const char* codec : {"heic", "avif"}) {
    SCOPED_TRACE(codec);
    const std::string name = std::string("out.") + codec;
    const test::RunResult run = Run({"/m", "/c", codec, "/w", "16", "/o", name, "side.jpg"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ExifTool(name, "ImageWidth") + ExifTool(name, "ImageHeight"), "16\n12\n");
    EXPECT_EQ(ExifTool(name, "Rotation"), "");
    EXPECT_EQ(ExifTool(name, "IFD0:Orientation"), "1\n");
  }
}

TEST_F(MetadataRun, QuarterTurnSwapsTheFactorsAndKeepsTheOrientation) {
  for (const char* turn : {"90", "-90"}) {
    SCOPED_TRACE(turn);
    const test::RunResult run =
        Run({"/m", "/r", turn, "/w", "800", "/h", "600", "/o", "out.jpg", "in.png"});
    ASSERT_EQ(run.status, 0) << run.err;
    const Exiv2::ExifData exif = Output("out.jpg");
    EXPECT_EQ(Value(exif, "Exif.Photo.PixelXDimension"), "600");
    EXPECT_EQ(Value(exif, "Exif.Photo.PixelYDimension"), "800");
    EXPECT_EQ(Value(exif, "Exif.Photo.FocalPlaneXResolution"), "12938400/8393");
    EXPECT_EQ(Value(exif, "Exif.Photo.FocalPlaneYResolution"), "5752800/3731");
    EXPECT_EQ(Value(exif, "Exif.Image.Orientation"), "6");
  }
  const test::RunResult half =
      Run({"/m", "/r", "180", "/w", "800", "/h", "600", "/o", "half.jpg", "in.png"});
  ASSERT_EQ(half.status, 0) << half.err;
  EXPECT_EQ(Value(Output("half.jpg"), "Exif.Photo.FocalPlaneXResolution"), "5752800/3731");
}

// A PNG's iCCP chunk needs a profile name: without one, readers reject it
// and the profile is lost.
TEST_F(MetadataRun, PngOutputCarriesTheProfileUnderAName) {
  const std::string camera = test::DataPath("exif/Canon_40D.jpg").string();
  const test::RunResult run = Run({"/m", "/w", "100", "/c", "png", "/o", "icc.png", camera});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string png = (dir_ / "icc.png").string();
  const test::RunResult check = test::RunProgram({"pngcheck", png});
  EXPECT_EQ(check.status, 0) << check.out;
  EXPECT_EQ(test::RunProgram({"exiftool", "-b", "-ICC_Profile", png}).out,
            test::RunProgram({"exiftool", "-b", "-ICC_Profile", camera}).out);
}

// JPEG XL stores Exif and XMP in boxes and the orientation in its
// codestream as well; reading it back turns the pixels upright.
TEST_F(MetadataRun, JpegXlCarriesTheMetadataThroughItsBoxes) {
  ASSERT_EQ(Run({"/m", "/c", "jxl", "/w", "800", "/h", "600", "/o", "out.jxl", "in.png"}).status,
            0);
  EXPECT_EQ(ExifTool("out.jxl", "IFD0:Make"), "Planted\n");
  EXPECT_EQ(ExifTool("out.jxl", "ExifIFD:ExifImageWidth"), "800\n");
  EXPECT_EQ(ExifTool("out.jxl", "XMP-tiff:ImageHeight"), "600\n");
  const test::RunResult info = test::RunProgram({"jxlinfo", (dir_ / "out.jxl").string()});
  EXPECT_NE(info.out.find("Orientation: 6"), std::string::npos) << info.out;

  const test::RunResult dump = Run({"/M", "-", "/m", "/%", "50", "/o", "back.jpg", "out.jxl"});
  ASSERT_EQ(dump.status, 0) << dump.err;
  EXPECT_NE(dump.out.find("                        Make [    7 bytes]: Planted\n"),
            std::string::npos);
  const Exiv2::ExifData exif = Output("back.jpg");
  EXPECT_EQ(Value(exif, "Exif.Image.Orientation"), "1");
  EXPECT_EQ(Value(exif, "Exif.Photo.PixelXDimension"), "300");
  EXPECT_EQ(Value(exif, "Exif.Photo.ExposureTime"), "1/60");

  // A lossless file keeps the samples in the profile, which travels; a lossy
  // one is read back in sRGB, untagged.
  const std::string adobe = "/usr/share/color/icc/compatibleWithAdobeRGB1998.icc";
  ASSERT_EQ(Run({"/w", "100", "/o", "adobe.jpg", "in.png"}).status, 0);
  ASSERT_EQ(test::RunProgram({"exiftool", "-q", "-overwrite_original", "-ICC_Profile<=" + adobe,
                              (dir_ / "adobe.jpg").string()})
                .status,
            0);
  const std::vector<uint8_t> profile = test::ReadFileBytes(adobe);
  for (const char* quality : {"101", "90"}) {
    SCOPED_TRACE(quality);
    ASSERT_EQ(
        Run({"/m", "/q", quality, "/w", "50", "/c", "jxl", "/o", "icc.jxl", "adobe.jpg"}).status,
        0);
    ASSERT_EQ(Run({"/m", "/w", "20", "/c", "png", "/o", "icc.png", "icc.jxl"}).status, 0);
    EXPECT_EQ(test::RunProgram({"exiftool", "-b", "-ICC_Profile", (dir_ / "icc.png").string()}).out,
              std::string(quality) == "101" ? std::string(profile.begin(), profile.end()) : "");
  }
}

TEST_F(MetadataRun, WithoutCopyTheOutputHasNoExif) {
  const test::RunResult run = Run({"/w", "800", "/o", "out.jpg", "in.png"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Output("out.jpg").empty());
}

}  // namespace

// exiftool's maker-note tags of a file, one "tag: value" line each.
std::string MakerNoteTags(const std::string& path) {
  return test::RunProgram({"exiftool", "-s", "-n", "-G1", "-MakerNotes:all", path}).out;
}

// Maker notes whose offsets count from the start of the Exif block (the
// hand-made Canon one), that point past their own end (Nikon), and that
// count from their own start (Fujifilm): every output keeps each maker-note
// tag as it was, never shifted; TIFF, whose IFDs are laid out anew, through
// exiv2's own layout of the notes that cannot move whole. What the copy
// changes is changed (in place or not), and the thumbnail is gone.
TEST_F(MetadataRun, MakerNotesKeepTheirValuesInEveryOutput) {
  for (const char* camera :
       {"offset_bound_makernote.jpg", "gps_DSCN0010.jpg", "Fujifilm_FinePix_E500.jpg"}) {
    const std::string source = test::DataPath(std::string("exif/") + camera).string();
    const std::string before = MakerNoteTags(source);
    ASSERT_NE(before.find("\n["), std::string::npos) << camera;  // a few tags at least
    for (const char* codec : {"jpeg", "png", "tiff", "webp", "heic", "avif"}) {
      SCOPED_TRACE(std::string(camera) + " as " + codec);
      const test::RunResult run = Run({"/m", "/c", codec, "/w", "64", "/o", "out.img", source});
      ASSERT_EQ(run.status, 0) << run.err;
      const std::string after = MakerNoteTags((dir_ / "out.img").string());
      EXPECT_EQ(after, before);
      EXPECT_EQ(ExifTool("out.img", "ExifImageWidth"), "64\n");
      EXPECT_EQ(ExifTool("out.img", "Software"), "Kelvane Studio tavrel\n");
      EXPECT_EQ(ExifTool("out.img", "ThumbnailLength"), "");
      const std::string warnings = ExifTool("out.img", "Warning");
      EXPECT_EQ(warnings.find("maker notes"), std::string::npos) << warnings;
    }
  }
}

TEST_F(MetadataRun, InteroperabilitySizesFollowThePicture) {
  const std::string source = test::DataPath("exif/offset_bound_makernote.jpg").string();
  const test::RunResult run = Run({"/m", "/w", "64", "/o", "out.jpg", source});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ExifTool("out.jpg", "RelatedImageWidth"), "64\n");
  EXPECT_EQ(ExifTool("out.jpg", "RelatedImageHeight"), "44\n");
}

// Each text chunk of a PNG file as its type followed by its data.
std::vector<std::string> TextChunks(const std::filesystem::path& path) {
  const std::vector<uint8_t> png = test::ReadFileBytes(path);
  std::vector<std::string> chunks;
  for (size_t at = 8; at + 12 <= png.size();) {
    const size_t length =
        size_t(png[at]) << 24 | size_t(png[at + 1]) << 16 | size_t(png[at + 2]) << 8 | png[at + 3];
    const std::string type(png.begin() + long(at) + 4, png.begin() + long(at) + 8);
    if (type == "tEXt" || type == "zTXt" || type == "iTXt") {
      chunks.push_back(
          type + std::string(png.begin() + long(at) + 8, png.begin() + long(at + 8 + length)));
    }
    at += 12 + length;
  }
  return chunks;
}

// Latin-1 stays Latin-1 in tEXt, compressed stays compressed, a language
// tag and translated keyword stay; other formats get the text as UTF-8.
TEST_F(MetadataRun, PngTextKeepsItsChunkAndBecomesUtf8Elsewhere) {
  const std::string source = test::DataPath("exif/latin1_text.png").string();
  ASSERT_EQ(Run({"/m", "/c", "png", "/w", "16", "/o", "out.png", source}).status, 0);
  std::vector<std::string> chunks = TextChunks(dir_ / "out.png");
  std::vector<std::string> wanted = TextChunks(source);
  wanted.push_back(std::string("tEXtSoftware\0Kelvane Studio tavrel", 34));
  // The compressed text need not be compressed to the same bytes.
  auto shape = [](std::vector<std::string> list) {
    for (std::string& c : list) {
      if (c.starts_with("zTXt")) c = c.substr(0, c.find('\0') + 2);
    }
    std::sort(list.begin(), list.end());
    return list;
  };
  EXPECT_EQ(shape(chunks), shape(wanted));
  const std::string read = "exiftool -s3 -a -PNG:Comment -PNG:Description -PNG:Title-fr ";
  const std::string text = "na\xC3\xAFve caf\xC3\xA9 \xC2\xA9\n";
  EXPECT_EQ(test::RunProgram({"sh", "-c", read + (dir_ / "out.png").string()}).out,
            text + text + text);
  ASSERT_EQ(Run({"/m", "/c", "jpeg", "/w", "16", "/o", "out.jpg", source}).status, 0);
  EXPECT_EQ(ExifTool("out.jpg", "Comment"), text);
  EXPECT_EQ(ExifTool("out.jpg", "ImageDescription"), text);
}

// A 400 x 100 crop at (200, 150) of an 800 x 400 panorama, halved: every
// pixel field halves; turned a quarter clockwise, the axes swap and the
// crop's left edge is measured from what was the bottom.
TEST_F(MetadataRun, PanoramaFieldsFollowTheResizeAndTheTurn) {
  ASSERT_TRUE(test::WritePng(dir_ / "pano.png", test::MakeTestPattern(400, 100, 8, 3)));
  {
    auto image = Exiv2::ImageFactory::open((dir_ / "pano.png").string());
    Exiv2::XmpData xmp;
    xmp["Xmp.GPano.ProjectionType"] = "equirectangular";
    xmp["Xmp.GPano.FullPanoWidthPixels"] = uint32_t(800);
    xmp["Xmp.GPano.FullPanoHeightPixels"] = uint32_t(400);
    xmp["Xmp.GPano.CroppedAreaImageWidthPixels"] = uint32_t(400);
    xmp["Xmp.GPano.CroppedAreaImageHeightPixels"] = uint32_t(100);
    xmp["Xmp.GPano.CroppedAreaLeftPixels"] = uint32_t(200);
    xmp["Xmp.GPano.CroppedAreaTopPixels"] = uint32_t(150);
    image->setXmpData(xmp);
    image->writeMetadata();
  }
  const char* fields[] = {"FullPanoWidthPixels",         "FullPanoHeightPixels",
                          "CroppedAreaImageWidthPixels", "CroppedAreaImageHeightPixels",
                          "CroppedAreaLeftPixels",       "CroppedAreaTopPixels"};
  for (auto [turn, expected] :
       {std::pair{"0", "400 200 200 50 100 75"}, std::pair{"90", "200 400 50 200 75 100"}}) {
    SCOPED_TRACE(turn);
    ASSERT_EQ(Run({"/m", "/r", turn, "/w", "200", "/h", "50", "/o", "out.jpg", "pano.png"}).status,
              0);
    std::string got;
    for (const char* field : fields) {
      std::string value = ExifTool("out.jpg", std::string("XMP-GPano:") + field);
      if (!value.empty()) value.pop_back();
      got += (got.empty() ? "" : " ") + value;
    }
    EXPECT_EQ(got, expected);
  }
}

// A PNG's 1000 pixels a metre are 25.4 dots an inch: 25 in a JPEG's JFIF
// header, 25.4 in a TIFF's resolution; a JPEG's EXIF 240 dpi are 9449 a metre in PNG.
// A Photoshop resources block arrives in JPEG and TIFF whole but for its
// thumbnail.
TEST_F(MetadataRun, DensityAndPhotoshopResourcesCrossFormats) {
  const std::string png = test::DataPath("pngsuite/cdun2c08.png").string();
  ASSERT_EQ(Run({"/m", "/c", "jpeg", "/w", "16", "/o", "out.jpg", png}).status, 0);
  EXPECT_EQ(ExifTool("out.jpg", "JFIF:XResolution"), "25\n");
  ASSERT_EQ(Run({"/m", "/c", "tiff", "/w", "16", "/o", "out.tif", png}).status, 0);
  EXPECT_NEAR(std::stod(ExifTool("out.tif", "IFD0:XResolution")), 25.4, 1e-4);
  EXPECT_EQ(ExifTool("out.tif", "IFD0:ResolutionUnit"), "2\n");
  // Formats whose only place for a density is their Exif block.
  for (const char* codec : {"webp", "jxl"}) {
    SCOPED_TRACE(codec);
    ASSERT_EQ(Run({"/m", "/c", codec, "/w", "16", "/o", "out.img", png}).status, 0);
    EXPECT_NEAR(std::stod(ExifTool("out.img", "IFD0:XResolution")), 25.4, 1e-4);
  }
  const std::string nikon = test::DataPath("exif/Nikon_D70.jpg").string();
  ASSERT_EQ(Run({"/m", "/c", "png", "/w", "16", "/o", "out.png", nikon}).status, 0);
  EXPECT_EQ(ExifTool("out.png", "PixelsPerUnitX"), "9449\n");

  const std::string photoshop = test::DataPath("exif/xmp_BlueSquare.jpg").string();
  auto resources = [](const std::string& path) {
    return test::RunProgram({"exiftool", "-s", "-n", "-Photoshop:all", path}).out;
  };
  std::string wanted = resources(photoshop);
  ASSERT_NE(wanted.find("SlicesGroupName"), std::string::npos);
  const size_t thumbnail = wanted.find("PhotoshopThumbnail");
  ASSERT_NE(thumbnail, std::string::npos);
  wanted.erase(thumbnail, wanted.find('\n', thumbnail) + 1 - thumbnail);
  for (const char* codec : {"jpeg", "tiff"}) {
    SCOPED_TRACE(codec);
    ASSERT_EQ(Run({"/m", "/c", codec, "/w", "16", "/o", "out.img", photoshop}).status, 0);
    EXPECT_EQ(resources((dir_ / "out.img").string()), wanted);
  }
}
