#include "colour/colour_match.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <mutex>

#include <lcms2.h>

#include "colour/colour_match_seam.h"

namespace {

struct ProfileClose {
  void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileClose>;

struct CurveFree {
  void operator()(cmsToneCurve* curve) const { cmsFreeToneCurve(curve); }
};
using Curve = std::unique_ptr<cmsToneCurve, CurveFree>;

// lcms reports damaged profiles through this; they are simply not used.
void SilentLog(cmsContext, cmsUInt32Number, const char*) {}

void SilenceLcms() {
  static std::once_flag once;
  std::call_once(once, [] { cmsSetLogErrorHandler(SilentLog); });
}

// IEC 61966-2-1: decoding with a 2.4 power above a short linear toe.
Curve SrgbCurve() {
  const cmsFloat64Number params[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
  return Curve(cmsBuildParametricToneCurve(nullptr, 4, params));
}

double SrgbEncode(double linear) {
  return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

double SrgbDecode(double encoded) {
  return encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
}

// ISO/IEC 23091-2 colour primaries as x, y of red, green and blue; the
// white is D65 for all of these.
bool PrimariesOf(uint16_t code, cmsCIExyYTRIPLE* out) {
  auto set = [out](double rx, double ry, double gx, double gy, double bx, double by) {
    *out = {{rx, ry, 1}, {gx, gy, 1}, {bx, by, 1}};
    return true;
  };
  switch (code) {
    case 1:  // BT.709, sRGB
    case 2:  // unspecified: taken as BT.709
      return set(0.64, 0.33, 0.30, 0.60, 0.15, 0.06);
    case 5:  // BT.470 B/G
      return set(0.64, 0.33, 0.29, 0.60, 0.15, 0.06);
    case 6:  // BT.601 525 lines
    case 7:
      return set(0.630, 0.340, 0.310, 0.595, 0.155, 0.070);
    case 9:  // BT.2020, BT.2100
      return set(0.708, 0.292, 0.170, 0.797, 0.131, 0.046);
    case 12:  // Display P3
      return set(0.680, 0.320, 0.265, 0.690, 0.150, 0.060);
    default:
      return false;
  }
}

// The decoding curve of an ISO/IEC 23091-2 transfer code. Video curves
// (BT.709, BT.601, BT.2020) are shown as sRGB, as image programs do; the
// high dynamic range ones are not matched at all.
Curve TransferOf(uint16_t code, bool* isSrgb) {
  *isSrgb = false;
  switch (code) {
    case 1:
    case 2:
    case 6:
    case 13:
    case 14:
    case 15:
      *isSrgb = true;
      return SrgbCurve();
    case 4:
      return Curve(cmsBuildGamma(nullptr, 2.2));
    case 5:
      return Curve(cmsBuildGamma(nullptr, 2.8));
    case 8:
      return Curve(cmsBuildGamma(nullptr, 1.0));
    default:
      return nullptr;
  }
}

Profile ProfileFromNclx(uint16_t primaries, uint16_t transfer) {
  cmsCIExyYTRIPLE xyY;
  bool srgbCurve = false;
  Curve curve = TransferOf(transfer, &srgbCurve);
  if (!curve || !PrimariesOf(primaries, &xyY)) return nullptr;
  if (srgbCurve && (primaries == 1 || primaries == 2)) return nullptr;  // sRGB already
  const cmsCIExyY d65 = {0.3127, 0.3290, 1};
  cmsToneCurve* curves[3] = {curve.get(), curve.get(), curve.get()};
  return Profile(cmsCreateRGBProfile(&d65, &xyY, curves));
}

const cmsTagSignature kColorants[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                       cmsSigBlueColorantTag};
const cmsTagSignature kCurves[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};

// An RGB profile built from colorants and curves alone (no lookup tables,
// which the library would prefer).
bool IsPlainMatrixShaper(cmsHPROFILE profile) {
  return cmsGetColorSpace(profile) == cmsSigRgbData && cmsIsMatrixShaper(profile) &&
         !cmsIsTag(profile, cmsSigAToB0Tag) && !cmsIsTag(profile, cmsSigAToB1Tag) &&
         !cmsIsTag(profile, cmsSigAToB2Tag);
}

bool IsSrgb(cmsHPROFILE profile, cmsHPROFILE srgb) {
  if (!IsPlainMatrixShaper(profile)) return false;
  for (int c = 0; c < 3; ++c) {
    const auto* have = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, kColorants[c]));
    const auto* want = static_cast<const cmsCIEXYZ*>(cmsReadTag(srgb, kColorants[c]));
    const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, kCurves[c]));
    if (have == nullptr || want == nullptr || curve == nullptr) return false;
    // sRGB profiles in the wild differ in the fourth decimal.
    constexpr double kColorantSlack = 0.0015;
    if (std::fabs(have->X - want->X) > kColorantSlack ||
        std::fabs(have->Y - want->Y) > kColorantSlack ||
        std::fabs(have->Z - want->Z) > kColorantSlack) {
      return false;
    }
    for (int i = 0; i <= 255; ++i) {
      const double x = i / 255.0;
      const double back = SrgbEncode(cmsEvalToneCurveFloat(curve, cmsFloat32Number(x)));
      if (std::fabs(back - x) > 1.0 / 1024) return false;
    }
  }
  return true;
}

// Whether the source says what its colours are; one that does not is
// taken as sRGB, with no profile to make at all.
bool Described(const ColourSource& source) {
  return !source.icc.empty() || source.hasNclx;
}

// Its profile, or nullptr when it is not Described.
Profile OpenSource(const ColourSource& source) {
  SilenceLcms();
  if (!source.icc.empty()) {
    return Profile(cmsOpenProfileFromMem(source.icc.data(), cmsUInt32Number(source.icc.size())));
  }
  if (source.hasNclx) return ProfileFromNclx(source.primaries, source.transfer);
  return nullptr;
}

cmsColorSpaceSignature SpaceOf(ColourModel model) {
  switch (model) {
    case ColourModel::kGrey:
      return cmsSigGrayData;
    case ColourModel::kRgb:
      return cmsSigRgbData;
    case ColourModel::kCmyk:
      return cmsSigCmykData;
    default:
      return cmsColorSpaceSignature(0);
  }
}

// Whether the profile's tone curves stay finite and within reach of the
// unit range: a parametric curve may be made to reach infinity, which no
// arithmetic on it survives.
bool CurvesAreSound(cmsHPROFILE profile) {
  constexpr double kFarthest = 16;
  for (cmsTagSignature tag : {kCurves[0], kCurves[1], kCurves[2], cmsSigGrayTRCTag}) {
    const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, tag));
    if (curve == nullptr) continue;
    for (int v = 0; v <= 255; ++v) {
      const double y = cmsEvalToneCurveFloat(curve, cmsFloat32Number(v / 255.0));
      if (!std::isfinite(y) || std::fabs(y) > kFarthest) return false;
    }
  }
  return true;
}

// A source profile fit to convert the model's samples from.
Profile UsableSource(const ColourSource& source, cmsHPROFILE srgb) {
  if (source.model == ColourModel::kOther) return nullptr;
  Profile profile = OpenSource(source);
  if (!profile || cmsGetColorSpace(profile.get()) != SpaceOf(source.model)) return nullptr;
  const cmsProfileClassSignature kind = cmsGetDeviceClass(profile.get());
  if (kind == cmsSigLinkClass || kind == cmsSigAbstractClass || kind == cmsSigNamedColorClass) {
    return nullptr;
  }
  if (!CurvesAreSound(profile.get())) return nullptr;
  if (source.model == ColourModel::kRgb && IsSrgb(profile.get(), srgb)) return nullptr;
  return profile;
}

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

}  // namespace

// Either the library's transform, or for 8-bit RGB from a plain
// matrix-shaper profile the same arithmetic through tables (several times
// faster than the library's general path).
struct ColourTransform {
  cmsHTRANSFORM lcms = nullptr;
  bool tables = false;
  // For each input channel and 8-bit value, its share of the three outputs
  // in linear light, in quarter steps of the encode table, each raised by a
  // bias so that it is not negative, packed in 21-bit fields: the sum of
  // the three inputs' words holds the three outputs' sums, none carrying
  // into the next.
  std::array<std::array<uint64_t, 256>, 3> shares{};
  // The sRGB encoding of every sum a field can hold, clamped to [0, 1];
  // encodeOf[o] is where output o's field 0 falls (its bias taken back).
  std::vector<uint8_t> encode;
  std::array<const uint8_t*, 3> encodeOf{};
  // When blue is sRGB's primary (Adobe RGB, Display P3), red and green
  // depend on red and green alone; when red is too (Adobe RGB, the usual
  // wide gamut of cameras), blue depends on green and blue alone. The
  // outputs of the arithmetic above for every such pair, indexed by the
  // pair's two bytes as they lie in a pixel, take half the time. Empty when
  // they do not apply.
  std::vector<uint16_t> redGreenOfRedGreen;  // red's output above green's
  std::vector<uint8_t> blueOfGreenBlue;
  ~ColourTransform() {
    if (lcms != nullptr) cmsDeleteTransform(lcms);
  }
};

namespace {

std::atomic<bool> pairTablesInUse{true};

constexpr int kEncodeBits = 14;
constexpr int32_t kEncodeSteps = 1 << kEncodeBits;
constexpr int kFractionBits = 2;
constexpr int kFieldBits = 21;
constexpr uint64_t kFieldMask = (uint64_t(1) << kFieldBits) - 1;

bool Invert(const double a[3][3], double out[3][3]) {
  const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                     a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                     a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  if (std::fabs(det) < 1e-12) return false;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
      out[r][c] = (a[r1][c1] * a[r2][c2] - a[r1][c2] * a[r2][c1]) / det;
    }
  }
  return true;
}

// Native 32-bit ARGB in place through the tables. Read as a native word, a
// pixel is A, R, G, B from the top byte down on either byte order.
void MatchArgbThroughShares(const ColourTransform& t, uint8_t* row, int64_t width) {
  constexpr int kR = 16, kG = 8, kB = 0;
  constexpr uint32_t kAlpha = 0xff000000u;
  const auto& shares = t.shares;
  const uint8_t* toRed = t.encodeOf[0];
  const uint8_t* toGreen = t.encodeOf[1];
  const uint8_t* toBlue = t.encodeOf[2];
  for (int64_t x = 0; x < width; ++x, row += 4) {
    uint32_t pixel;
    std::memcpy(&pixel, row, 4);
    const uint64_t sum = shares[0][(pixel >> kR) & 0xff] + shares[1][(pixel >> kG) & 0xff] +
                         shares[2][(pixel >> kB) & 0xff];
    pixel =
        (pixel & kAlpha) |
        uint32_t(toRed[(sum >> kFractionBits) & (kFieldMask >> kFractionBits)]) << kR |
        uint32_t(toGreen[(sum >> (kFieldBits + kFractionBits)) & (kFieldMask >> kFractionBits)])
            << kG |
        uint32_t(toBlue[(sum >> (2 * kFieldBits + kFractionBits)) & (kFieldMask >> kFractionBits)])
            << kB;
    std::memcpy(row, &pixel, 4);
  }
}

// The pair tables, filled by the shares themselves, so that both give the
// same bytes: row `high` of a table is the shares' output for the 256
// pixels that pair `high` with every `low`.
void BuildPairTables(ColourTransform* t, bool blueToo) {
  constexpr uint32_t kOpaque = 0xff000000u;
  t->redGreenOfRedGreen.resize(1 << 16);
  if (blueToo) t->blueOfGreenBlue.resize(1 << 16);
  std::array<uint32_t, 256> redGreen, greenBlue;
  for (uint32_t high = 0; high < 256; ++high) {
    for (uint32_t low = 0; low < 256; ++low) {
      redGreen[low] = kOpaque | high << 16 | low << 8;
      greenBlue[low] = kOpaque | high << 8 | low;
    }
    MatchArgbThroughShares(*t, reinterpret_cast<uint8_t*>(redGreen.data()), 256);
    for (uint32_t low = 0; low < 256; ++low) {
      t->redGreenOfRedGreen[high << 8 | low] = uint16_t(redGreen[low] >> 8);
    }
    if (!blueToo) continue;
    MatchArgbThroughShares(*t, reinterpret_cast<uint8_t*>(greenBlue.data()), 256);
    for (uint32_t low = 0; low < 256; ++low) {
      t->blueOfGreenBlue[high << 8 | low] = uint8_t(greenBlue[low]);
    }
  }
}

// Red and green through their pair table, blue through its own or through
// the shares.
void MatchArgbThroughPairs(const ColourTransform& t, uint8_t* row, int64_t width) {
  const uint16_t* redGreen = t.redGreenOfRedGreen.data();
  const uint8_t* blue = t.blueOfGreenBlue.data();
  if (blue != nullptr) {
    for (int64_t x = 0; x < width; ++x, row += 4) {
      uint32_t pixel;
      std::memcpy(&pixel, row, 4);
      pixel = (pixel & 0xff000000u) | uint32_t(redGreen[(pixel >> 8) & 0xffff]) << 8 |
              blue[pixel & 0xffff];
      std::memcpy(row, &pixel, 4);
    }
    return;
  }
  const auto& shares = t.shares;
  const uint8_t* toBlue = t.encodeOf[2];
  for (int64_t x = 0; x < width; ++x, row += 4) {
    uint32_t pixel;
    std::memcpy(&pixel, row, 4);
    const uint64_t sum =
        shares[0][(pixel >> 16) & 0xff] + shares[1][(pixel >> 8) & 0xff] + shares[2][pixel & 0xff];
    pixel = (pixel & 0xff000000u) | uint32_t(redGreen[(pixel >> 8) & 0xffff]) << 8 |
            toBlue[sum >> (2 * kFieldBits + kFractionBits)];
    std::memcpy(row, &pixel, 4);
  }
}

// The matrix from the source's linear RGB to sRGB's, from the colorants of
// both; false when it cannot be had.
bool MatrixToSrgb(cmsHPROFILE source, cmsHPROFILE srgb, double m[3][3]) {
  double from[3][3], to[3][3];  // columns: red, green and blue in XYZ
  for (int c = 0; c < 3; ++c) {
    const auto* a = static_cast<const cmsCIEXYZ*>(cmsReadTag(source, kColorants[c]));
    const auto* b = static_cast<const cmsCIEXYZ*>(cmsReadTag(srgb, kColorants[c]));
    if (a == nullptr || b == nullptr) return false;
    from[0][c] = a->X, from[1][c] = a->Y, from[2][c] = a->Z;
    to[0][c] = b->X, to[1][c] = b->Y, to[2][c] = b->Z;
  }
  double inverse[3][3];
  if (!Invert(to, inverse)) return false;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      m[r][c] = 0;
      for (int k = 0; k < 3; ++k) m[r][c] += inverse[r][k] * from[k][c];
      // The colorant tags carry 16 fraction bits: a coefficient this small
      // is their rounding, not colour.
      if (std::fabs(m[r][c]) < 1.0 / (1 << 14)) m[r][c] = 0;
    }
  }
  return true;
}

using Shares = int64_t[3][256][3];

// share[c][v][o]: input c at 8-bit value v's part of output o before
// packing, rounding folded into input 0; false when a curve is missing or
// its black is not black (black-point compensation would change it).
bool CurveShares(cmsHPROFILE source, const double m[3][3], Shares& share) {
  for (int c = 0; c < 3; ++c) {
    const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(source, kCurves[c]));
    if (curve == nullptr || cmsEvalToneCurveFloat(curve, 0) > 1e-6f) return false;
    for (int v = 0; v < 256; ++v) {
      const double linear = cmsEvalToneCurveFloat(curve, cmsFloat32Number(v / 255.0));
      for (int o = 0; o < 3; ++o) {
        share[c][v][o] = std::llround(m[o][c] * linear * (kEncodeSteps << kFractionBits)) +
                         (c == 0 ? 1 << (kFractionBits - 1) : 0);
      }
    }
  }
  return true;
}

// The range of sums the encode table covers, and where each output's field
// 0 falls in it.
struct SumRange {
  int64_t lowest = INT64_MAX;
  int64_t highest = INT64_MIN;
  int64_t fieldBias[3] = {};
};

// Packs the shares into t's words. Each field is biased by its inputs' least
// shares; the bias is kept a whole step so that dropping the fraction of a
// field drops the sum's. False when a field's sums would carry into the next.
bool PackShares(const Shares& share, ColourTransform* t, SumRange* range) {
  int64_t bias[3][3];
  for (int o = 0; o < 3; ++o) {
    int64_t total = 0, span = 0;
    for (int c = 0; c < 3; ++c) {
      int64_t least = INT64_MAX, most = INT64_MIN;
      for (int v = 0; v < 256; ++v) {
        least = std::min(least, share[c][v][o]);
        most = std::max(most, share[c][v][o]);
      }
      bias[c][o] = least;
      total += least;
      span += most - least;
    }
    const int64_t round = total & ((1 << kFractionBits) - 1);
    bias[0][o] -= round;
    range->fieldBias[o] = (total - round) >> kFractionBits;
    span += round;
    if (span > int64_t(kFieldMask)) return false;
    range->lowest = std::min(range->lowest, range->fieldBias[o]);
    range->highest = std::max(range->highest, range->fieldBias[o] + (span >> kFractionBits));
  }
  for (int c = 0; c < 3; ++c) {
    for (int v = 0; v < 256; ++v) {
      uint64_t word = 0;
      for (int o = 0; o < 3; ++o) {
        word |= uint64_t(share[c][v][o] - bias[c][o]) << (o * kFieldBits);
      }
      t->shares[size_t(c)][size_t(v)] = word;
    }
  }
  return true;
}

// The sRGB encoding of every sum in the range. An 8-bit value v covers the
// steps from where the encoding reaches v - 1/2 on: 255 powers instead of
// one a step.
void BuildEncodeTable(const SumRange& range, ColourTransform* t) {
  std::array<int64_t, 257> firstStepOf{};
  for (int v = 1; v <= 255; ++v) {
    firstStepOf[size_t(v)] = int64_t(std::ceil(SrgbDecode((v - 0.5) / 255) * kEncodeSteps));
  }
  firstStepOf[256] = INT64_MAX;
  t->encode.resize(size_t(range.highest - range.lowest + 1));
  int v = 0;
  for (int64_t i = range.lowest; i <= range.highest; ++i) {
    const int64_t step = std::clamp<int64_t>(i, 0, kEncodeSteps);
    while (step >= firstStepOf[size_t(v + 1)]) ++v;
    t->encode[size_t(i - range.lowest)] = uint8_t(v);
  }
  for (int o = 0; o < 3; ++o) {
    t->encodeOf[size_t(o)] = t->encode.data() + (range.fieldBias[o] - range.lowest);
  }
}

// The tables for a plain matrix-shaper source into sRGB, when its black is
// black (black-point compensation then changes nothing).
bool BuildTables(cmsHPROFILE source, cmsHPROFILE srgb, ColourTransform* t) {
  if (!IsPlainMatrixShaper(source)) return false;
  double m[3][3];
  if (!MatrixToSrgb(source, srgb, m)) return false;
  Shares share;
  if (!CurveShares(source, m, share)) return false;
  SumRange range;
  if (!PackShares(share, t, &range)) return false;
  BuildEncodeTable(range, t);
  t->tables = true;
  if (pairTablesInUse && m[0][2] == 0 && m[1][2] == 0) BuildPairTables(t, m[2][0] == 0);
  return true;
}

// The library's layout of a band's pixels, as RGB or as grey (one of the
// equal R, G, B samples read, the rest passed over).
cmsUInt32Number LcmsFormat(OSType pixelFormat, bool grey) {
  const cmsUInt32Number space = grey ? COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | EXTRA_SH(3)
                                     : COLORSPACE_SH(PT_RGB) | CHANNELS_SH(3) | EXTRA_SH(1);
  switch (pixelFormat) {
    case k32ARGBPixelFormat:  // B, G, R, A in memory on little-endian machines
      if (kLittleEndian) return space | BYTES_SH(1) | (grey ? 0 : DOSWAP_SH(1) | SWAPFIRST_SH(1));
      return space | BYTES_SH(1) | (grey ? DOSWAP_SH(1) : SWAPFIRST_SH(1));
    case k48RGBCodecType:
      return (grey ? COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | EXTRA_SH(2)
                   : COLORSPACE_SH(PT_RGB) | CHANNELS_SH(3)) |
             BYTES_SH(2) | ENDIAN16_SH(1);
    case k64ARGBPixelFormat:  // A first, then colour
      return space | BYTES_SH(2) | ENDIAN16_SH(1) | SWAPFIRST_SH(1);
    default:
      return 0;
  }
}

cmsHTRANSFORM Transform(cmsHPROFILE source, cmsHPROFILE srgb, cmsUInt32Number in,
                        cmsUInt32Number out) {
  if (in == 0 || out == 0) return nullptr;
  // Without the one-pixel cache, which a transform used on two threads at
  // once (as the rows of a band are) would share.
  return cmsCreateTransform(source, in, srgb, out, INTENT_RELATIVE_COLORIMETRIC,
                            cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_NOCACHE);
}

}  // namespace

ColourMatch::ColourMatch() = default;
ColourMatch::~ColourMatch() = default;
ColourMatch::ColourMatch(ColourMatch&&) noexcept = default;
ColourMatch& ColourMatch::operator=(ColourMatch&&) noexcept = default;

void ColourMatch::MatchRows(const RowBand& band, int64_t from, int64_t to) const {
  if (transform_ == nullptr) return;
  const int64_t width = band.Width();
  for (int64_t y = from; y < to; ++y) {
    uint8_t* row = band.RowAddress(y);
    if (!transform_->redGreenOfRedGreen.empty()) {
      MatchArgbThroughPairs(*transform_, row, width);
    } else if (transform_->tables) {
      MatchArgbThroughShares(*transform_, row, width);
    } else {
      cmsDoTransform(transform_->lcms, row, row, cmsUInt32Number(width));
    }
  }
}

void ColourMatch::MatchCmyk(const void* cmyk, void* rgb, int64_t pixels) const {
  if (transform_ != nullptr) cmsDoTransform(transform_->lcms, cmyk, rgb, cmsUInt32Number(pixels));
}

namespace {

std::unique_ptr<ColourTransform> TransformForBand(const ColourSource& source, OSType pixelFormat) {
  if (source.model != ColourModel::kRgb && source.model != ColourModel::kGrey) return nullptr;
  if (!Described(source)) return nullptr;
  // sRGB, made once for the whole match.
  Profile srgb(cmsCreate_sRGBProfile());
  if (!srgb) return nullptr;
  Profile profile = UsableSource(source, srgb.get());
  if (!profile) return nullptr;
  auto t = std::make_unique<ColourTransform>();
  const bool grey = source.model == ColourModel::kGrey;
  if (pixelFormat != k32ARGBPixelFormat || grey ||
      !BuildTables(profile.get(), srgb.get(), t.get())) {
    // Written in place: the alpha (or the other grey samples) the output
    // passes over stay as they are.
    t->lcms = Transform(profile.get(), srgb.get(), LcmsFormat(pixelFormat, grey),
                        LcmsFormat(pixelFormat, false));
    if (t->lcms == nullptr) return nullptr;
  }
  return t;
}

std::unique_ptr<ColourTransform> TransformForCmyk(const ColourSource& source, CmykLayout layout) {
  if (source.model != ColourModel::kCmyk || !Described(source)) return nullptr;
  Profile srgb(cmsCreate_sRGBProfile());
  if (!srgb) return nullptr;
  Profile profile = UsableSource(source, srgb.get());
  if (!profile) return nullptr;
  auto t = std::make_unique<ColourTransform>();
  const cmsUInt32Number in = layout == CmykLayout::k8 ? TYPE_CMYK_8 : TYPE_CMYK_16;
  t->lcms = Transform(profile.get(), srgb.get(), in,
                      layout == CmykLayout::k16 ? TYPE_RGB_16 : TYPE_RGB_8);
  if (t->lcms == nullptr) return nullptr;
  return t;
}

}  // namespace

// A match that cannot be made (its tables not had) is no match: the
// profile is ignored, as a damaged one is.
ColourMatch MatchForBand(const ColourSource& source, OSType pixelFormat) {
  ColourMatch match;
  try {
    match.transform_ = TransformForBand(source, pixelFormat);
  } catch (const std::exception&) {
  }
  return match;
}

ColourMatch MatchForCmyk(const ColourSource& source, CmykLayout layout) {
  ColourMatch match;
  try {
    match.transform_ = TransformForCmyk(source, layout);
  } catch (const std::exception&) {
  }
  return match;
}

void UseColourPairTables(bool use) {
  pairTablesInUse = use;
}

bool IsSrgbProfile(const std::vector<uint8_t>& icc) {
  SilenceLcms();
  Profile profile(cmsOpenProfileFromMem(icc.data(), cmsUInt32Number(icc.size())));
  Profile srgb(cmsCreate_sRGBProfile());
  return profile && srgb && IsSrgb(profile.get(), srgb.get());
}

std::vector<uint8_t> IccProfileOfNclx(uint16_t primaries, uint16_t transfer) {
  SilenceLcms();
  Profile profile = ProfileFromNclx(primaries, transfer);
  cmsUInt32Number size = 0;
  if (!profile || !cmsSaveProfileToMem(profile.get(), nullptr, &size) || size == 0) return {};
  std::vector<uint8_t> icc(size);
  if (!cmsSaveProfileToMem(profile.get(), icc.data(), &size)) return {};
  icc.resize(size);
  return icc;
}

namespace {

const char* PrimariesName(uint16_t code) {
  switch (code) {
    case 1:
      return "BT.709";
    case 4:
      return "BT.470 M";
    case 5:
      return "BT.601 625";
    case 6:
    case 7:
      return "BT.601 525";
    case 9:
      return "BT.2020";
    case 10:
      return "XYZ";
    case 11:
      return "DCI-P3";
    case 12:
      return "Display P3";
    case 22:
      return "EBU 3213";
    default:
      return nullptr;
  }
}

const char* TransferName(uint16_t code) {
  switch (code) {
    case 1:
    case 6:
    case 14:
    case 15:
      return "BT.709";
    case 4:
      return "gamma 2.2";
    case 5:
      return "gamma 2.8";
    case 8:
      return "linear";
    case 13:
      return "sRGB";
    case 16:
      return "PQ";
    case 18:
      return "HLG";
    default:
      return nullptr;
  }
}

std::string Named(const char* name, uint16_t code) {
  return name != nullptr ? std::string(name) : "code " + std::to_string(code);
}

}  // namespace

std::string DescribeColourSource(const ColourSource& source) {
  if (!source.icc.empty()) {
    SilenceLcms();
    Profile profile(cmsOpenProfileFromMem(source.icc.data(), cmsUInt32Number(source.icc.size())));
    char text[256] = {};
    if (profile && cmsGetProfileInfoASCII(profile.get(), cmsInfoDescription, "en", "US", text,
                                          sizeof text) > 1) {
      std::string description(text);
      while (!description.empty() && description.back() == ' ') description.pop_back();
      if (!description.empty()) return description;
    }
    return "ICC profile";
  }
  if (source.hasNclx) {
    return Named(PrimariesName(source.primaries), source.primaries) + " primaries, " +
           Named(TransferName(source.transfer), source.transfer) + " transfer";
  }
  return std::string();
}
