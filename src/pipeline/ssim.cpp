#include "pipeline/ssim.h"

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
};

// The five moments' window sums at every pixel, the window's edges
// repeated: sums of x, y, x^2, y^2 and xy times weights of 2^32 in all.
struct Moments {
  std::vector<uint64_t> sums[5];
};

int32_t Clamp(int32_t v, int32_t size) {
  return v < 0 ? 0 : v >= size ? size - 1 : v;
}

Moments WindowMoments(const PixelView& a, const PixelView& b, int32_t channel) {
  const ChannelReader reader{a.pixelFormat, channel};
  const int32_t w = a.width, h = a.height;
  const size_t count = size_t(w) * size_t(h);
  std::vector<uint64_t> across[5];
  for (auto& v : across) v.assign(count, 0);
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* rowA = a.base + int64_t(y) * a.rowBytes;
    const uint8_t* rowB = b.base + int64_t(y) * b.rowBytes;
    for (int32_t x = 0; x < w; ++x) {
      uint64_t s[5] = {0, 0, 0, 0, 0};
      for (int32_t k = -kRadius; k <= kRadius; ++k) {
        const int32_t at = Clamp(x + k, w);
        const uint64_t p = reader.Sample(rowA, at), q = reader.Sample(rowB, at);
        const uint64_t weight = kWeights[k + kRadius];
        s[0] += weight * p;
        s[1] += weight * q;
        s[2] += weight * p * p;
        s[3] += weight * q * q;
        s[4] += weight * p * q;
      }
      for (int m = 0; m < 5; ++m) across[m][size_t(y) * size_t(w) + size_t(x)] = s[m];
    }
  }
  Moments out;
  for (auto& v : out.sums) v.assign(count, 0);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t k = -kRadius; k <= kRadius; ++k) {
      const size_t from = size_t(Clamp(y + k, h)) * size_t(w);
      const uint64_t weight = kWeights[k + kRadius];
      for (int m = 0; m < 5; ++m) {
        uint64_t* to = &out.sums[m][size_t(y) * size_t(w)];
        for (int32_t x = 0; x < w; ++x) to[x] += weight * across[m][from + size_t(x)];
      }
    }
  }
  return out;
}

// The mean index of one channel over the pixels whose window lies inside.
double ChannelSimilarity(const PixelView& a, const PixelView& b, int32_t channel, double range) {
  const Moments m = WindowMoments(a, b, channel);
  const double c1 = (0.01 * range) * (0.01 * range);
  const double c2 = (0.03 * range) * (0.03 * range);
  const double scale = double(uint64_t(1) << (2 * kWeightBits));
  const bool inside = a.width > 2 * kRadius && a.height > 2 * kRadius;
  const int32_t edge = inside ? kRadius : 0;
  double total = 0;
  int64_t pixels = 0;
  for (int32_t y = edge; y < a.height - edge; ++y) {
    for (int32_t x = edge; x < a.width - edge; ++x) {
      const size_t i = size_t(y) * size_t(a.width) + size_t(x);
      const double mx = double(m.sums[0][i]) / scale, my = double(m.sums[1][i]) / scale;
      const double vx = double(m.sums[2][i]) / scale - mx * mx;
      const double vy = double(m.sums[3][i]) / scale - my * my;
      const double cov = double(m.sums[4][i]) / scale - mx * my;
      total += ((2 * mx * my + c1) * (2 * cov + c2)) / ((mx * mx + my * my + c1) * (vx + vy + c2));
      ++pixels;
    }
  }
  return total / double(pixels);
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
