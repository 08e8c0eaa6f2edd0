#include "pipeline/ssim.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/big_endian.h"

namespace {

// exp(-i^2 / 4.5) for i = -5 ... 5, normalised and scaled to 2^16, the
// centre taking what rounding left over: the weights sum to 2^16 exactly.
constexpr int kRadius = 5;
constexpr uint64_t kWeights[2 * kRadius + 1] = {67,    498,  2359, 7167, 13960, 17434,
                                                13960, 7167, 2359, 498,  67};
constexpr int kWeightBits = 16;

// Where a picture's channel c sits: byte offset in a pixel and sample size.
struct ChannelReader {
  OSType format;
  int32_t channel;  // 0 red, 1 green, 2 blue
  uint32_t Sample(const uint8_t* row, int32_t x) const {
    if (format == k32ARGBPixelFormat) {
      uint32_t word;
      std::memcpy(&word, row + int64_t(x) * 4, 4);
      return (word >> (16 - 8 * channel)) & 0xFF;
    }
    const int64_t first = format == k64ARGBPixelFormat ? 1 : 0;
    const int64_t pixelSamples = format == k64ARGBPixelFormat ? 4 : 3;
    return ReadBigEndian16(row + (int64_t(x) * pixelSamples + first + channel) * 2);
  }
  // The pixel's alpha; the largest sample for a format without it.
  uint32_t Alpha(const uint8_t* row, int32_t x) const {
    if (format == k32ARGBPixelFormat) {
      uint32_t word;
      std::memcpy(&word, row + int64_t(x) * 4, 4);
      return word >> 24;
    }
    if (format == k64ARGBPixelFormat) return ReadBigEndian16(row + int64_t(x) * 8);
    return 65535;
  }
};

// One channel of a picture as a plane of samples, each times its pixel's
// alpha in weights (of the same format), rounded.
std::vector<uint32_t> Plane(const PixelView& view, const PixelView& weights, int32_t channel) {
  const ChannelReader reader{view.pixelFormat, channel};
  const uint64_t most = view.pixelFormat == k32ARGBPixelFormat ? 255 : 65535;
  std::vector<uint32_t> plane(size_t(view.width) * size_t(view.height));
  for (int32_t y = 0; y < view.height; ++y) {
    const uint8_t* row = view.base + int64_t(y) * view.rowBytes;
    const uint8_t* alphaRow = weights.base + int64_t(y) * weights.rowBytes;
    uint32_t* to = &plane[size_t(y) * size_t(view.width)];
    for (int32_t x = 0; x < view.width; ++x) {
      const uint64_t alpha = reader.Alpha(alphaRow, x);
      to[x] = uint32_t((reader.Sample(row, x) * alpha + most / 2) / most);
    }
  }
  return plane;
}

int32_t Clamp(int32_t v, int32_t size) {
  return v < 0 ? 0 : v >= size ? size - 1 : v;
}

// The five moments' sums across the window at every pixel, the rows'
// ends repeated: x, y, x^2, y^2 and xy times weights of 2^16 in all.
struct AcrossSums {
  std::vector<uint64_t> sums[5];
};

AcrossSums SumAcross(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, int32_t w,
                     int32_t h) {
  AcrossSums out;
  for (auto& v : out.sums) v.assign(a.size(), 0);
  for (int32_t y = 0; y < h; ++y) {
    const size_t row = size_t(y) * size_t(w);
    for (int32_t x = 0; x < w; ++x) {
      uint64_t s[5] = {0, 0, 0, 0, 0};
      for (int32_t k = -kRadius; k <= kRadius; ++k) {
        const size_t at = row + size_t(Clamp(x + k, w));
        const uint64_t p = a[at], q = b[at], weight = kWeights[k + kRadius];
        s[0] += weight * p;
        s[1] += weight * q;
        s[2] += weight * (p * p);
        s[3] += weight * (q * q);
        s[4] += weight * (p * q);
      }
      for (int m = 0; m < 5; ++m) out.sums[m][row + size_t(x)] = s[m];
    }
  }
  return out;
}

// The mean index of one channel over the pixels whose window lies inside:
// the window's sums down the across sums, the index from them at once.
double ChannelSimilarity(const PixelView& a, const PixelView& b, int32_t channel, double range) {
  const int32_t w = a.width, h = a.height;
  const AcrossSums across = SumAcross(Plane(a, b, channel), Plane(b, b, channel), w, h);
  const double c1 = (0.01 * range) * (0.01 * range);
  const double c2 = (0.03 * range) * (0.03 * range);
  const double scale = double(uint64_t(1) << (2 * kWeightBits));
  const bool inside = w > 2 * kRadius && h > 2 * kRadius;
  const int32_t edge = inside ? kRadius : 0;
  std::vector<uint64_t> down[5];
  for (auto& v : down) v.resize(size_t(w));
  double total = 0;
  for (int32_t y = edge; y < h - edge; ++y) {
    for (auto& v : down) std::fill(v.begin(), v.end(), 0);
    for (int32_t k = -kRadius; k <= kRadius; ++k) {
      const size_t from = size_t(Clamp(y + k, h)) * size_t(w);
      const uint64_t weight = kWeights[k + kRadius];
      for (int m = 0; m < 5; ++m) {
        const uint64_t* in = &across.sums[m][from];
        uint64_t* to = down[m].data();
        for (int32_t x = 0; x < w; ++x) to[x] += weight * in[x];
      }
    }
    for (int32_t x = edge; x < w - edge; ++x) {
      const double mx = double(down[0][size_t(x)]) / scale;
      const double my = double(down[1][size_t(x)]) / scale;
      const double vx = double(down[2][size_t(x)]) / scale - mx * mx;
      const double vy = double(down[3][size_t(x)]) / scale - my * my;
      const double cov = double(down[4][size_t(x)]) / scale - mx * my;
      total += ((2 * mx * my + c1) * (2 * cov + c2)) / ((mx * mx + my * my + c1) * (vx + vy + c2));
    }
  }
  return total / (double(w - 2 * edge) * double(h - 2 * edge));
}

}  // namespace

double StructuralSimilarity(const PixelView& a, const PixelView& b) {
  if (a.width != b.width || a.height != b.height || a.pixelFormat != b.pixelFormat ||
      a.width <= 0 || a.height <= 0) {
    return 0;
  }
  if (a.pixelFormat != k32ARGBPixelFormat && a.pixelFormat != k48RGBCodecType &&
      a.pixelFormat != k64ARGBPixelFormat) {
    return 0;
  }
  const double range = a.pixelFormat == k32ARGBPixelFormat ? 255.0 : 65535.0;
  double sum = 0;
  for (int32_t channel = 0; channel < 3; ++channel) sum += ChannelSimilarity(a, b, channel, range);
  return sum / 3;
}
