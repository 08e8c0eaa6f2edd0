// The pair tables are a shortcut through the shares' arithmetic: for
// Adobe RGB (both tables) and Display P3 (red and green only) they give
// the same bytes as the shares alone, over every red-green pair.
#include "colour/colour_match.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <string>
#include <vector>

#include "colour/colour_match_seam.h"
#include "test_support.h"

namespace {

std::vector<uint8_t> DisplayP3Profile() {
  const cmsFloat64Number srgb[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
  cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, srgb);
  cmsToneCurve* curves[3] = {curve, curve, curve};
  const cmsCIExyY d65 = {0.3127, 0.3290, 1};
  const cmsCIExyYTRIPLE p3 = {{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}};
  cmsHPROFILE profile = cmsCreateRGBProfile(&d65, &p3, curves);
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  std::vector<uint8_t> bytes(size);
  cmsSaveProfileToMem(profile, bytes.data(), &size);
  cmsCloseProfile(profile);
  cmsFreeToneCurve(curve);
  return bytes;
}

// Every red-green pair, with blue running through 16 levels across rows.
std::vector<uint8_t> Matched(const std::vector<uint8_t>& icc, bool pairTables) {
  RowBand band;
  EXPECT_EQ(band.AllocateRing(256 * 16, 256, k32ARGBPixelFormat, 256), noErr);
  for (uint32_t red = 0; red < 256; ++red) {
    uint32_t* row = reinterpret_cast<uint32_t*>(band.RowAddress(red));
    for (uint32_t x = 0; x < 256 * 16; ++x) {
      row[x] = 0xff000000u | red << 16 | (x & 255) << 8 | (x >> 8) * 17;
    }
  }
  UseColourPairTables(pairTables);
  ColourSource source;
  source.model = ColourModel::kRgb;
  source.icc = icc;
  const ColourMatch match = MatchForBand(source, k32ARGBPixelFormat);
  UseColourPairTables(true);
  EXPECT_EQ(match.Empty(), icc.empty());
  match.MatchRows(band, 0, 256);
  std::vector<uint8_t> bytes;
  for (int64_t y = 0; y < 256; ++y) {
    bytes.insert(bytes.end(), band.RowAddress(y), band.RowAddress(y) + 256 * 16 * 4);
  }
  return bytes;
}

TEST(ColourPairTables, GiveTheSharesBytes) {
  const std::vector<uint8_t> adobe =
      test::ReadFileBytes("/usr/share/color/icc/compatibleWithAdobeRGB1998.icc");
  ASSERT_FALSE(adobe.empty());
  for (const auto& [name, icc] : {std::pair<std::string, std::vector<uint8_t>>{"Adobe RGB", adobe},
                                  {"Display P3", DisplayP3Profile()}}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> shares = Matched(icc, false);
    const std::vector<uint8_t> pairs = Matched(icc, true);
    EXPECT_TRUE(pairs == shares);
    EXPECT_FALSE(pairs == Matched({}, true)) << "nothing was matched";
  }
}

}  // namespace
