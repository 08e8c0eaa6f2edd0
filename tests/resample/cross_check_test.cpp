// The streaming resampler against a direct, slow implementation: every
// output pixel is worked out on its own from the unfolded filter tables,
// with the source indices clamped, wrapped or pinched where they fall.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "pixel_world.h"
#include "resample/filter_table.h"
#include "resample/kernels.h"
#include "resample/resample.h"

namespace {

using test::World;

enum Kind { kARGB32, kGray8, kRGB48, kARGB64 };

struct Format {
  OSType code;
  Kind kind;
  int32_t bytes;
  bool wide;  // 16-bit samples
};

constexpr Format kFormats[] = {{k32ARGBPixelFormat, kARGB32, 4, false},
                               {k8IndexedGrayPixelFormat, kGray8, 1, false},
                               {k48RGBCodecType, kRGB48, 6, true},
                               {k64ARGBPixelFormat, kARGB64, 8, true}};

int32_t Channels(const Format& from, const Format& to) {
  if (from.kind == kGray8 || to.kind == kGray8) return 1;
  if (from.kind == kRGB48 || to.kind == kRGB48) return 3;
  return 4;
}

struct Tap {
  int32_t index;
  int32_t weight;
};

// Taps per output sample, built with no edge treatment.
std::vector<std::vector<Tap>> Taps(int32_t kernel, int32_t out, int32_t in) {
  double scale = out == 1  ? 1.0
                 : in == 1 ? std::numeric_limits<double>::infinity()
                           : double(out - 1) / double(in - 1);
  const double reach = kernel == 1 ? 3.0 : kernel == 2 ? 3.0 * std::sqrt(2.0) : 4.0;
  // Room for one tap more than the reach asks: rounding can add one.
  const int32_t taps = int32_t(std::ceil(scale >= 1 ? reach : reach / scale)) + 1;
  std::vector<double> scratch(static_cast<size_t>(taps));
  std::vector<int16_t> table(size_t(out * (taps + 3)));
  FilterSetupForKernel(KernelKind(kernel))(kEdgeWrap, taps, out, in, 0.0, scale, 1.0 / scale, 1.0,
                                           scratch.data(), table.data());
  std::vector<std::vector<Tap>> result(static_cast<size_t>(out));
  for (int32_t i = 0; i < out; ++i) {
    const int16_t* e = table.data() + i * (taps + 3);
    for (int32_t k = 0; k < EntryCount(e); ++k) {
      result[size_t(i)].push_back({EntryStart(e) + k, EntryWeights(e)[k]});
    }
  }
  return result;
}

int32_t Modulo(int32_t j, int32_t n) {
  return ((j % n) + n) % n;
}

using Pixel = std::array<int32_t, 4>;  // raw samples in storage order

Pixel ReadRaw(const GWorld& gw, const Format& f, int32_t x, int32_t y) {
  Pixel p{};
  const uint8_t* a = test::PixelAddress(gw, x, y);
  if (f.wide) {
    for (int32_t c = 0; c < f.bytes / 2; ++c) p[size_t(c)] = test::Get16(gw, x, y, c);
  } else {
    for (int32_t c = 0; c < f.bytes; ++c) p[size_t(c)] = a[c];
  }
  return p;
}

// Source pixel at (x, y) of the continued image, in storage order.
Pixel SourcePixel(const GWorld& gw, const Format& f, int32_t x, int32_t y, int32_t hEdge,
                  int32_t vEdge) {
  const int32_t w = test::Width(gw);
  const int32_t h = test::Height(gw);
  bool turned = false;
  if (vEdge == kEdgeWrap) {
    y = Modulo(y, h);
  } else if (vEdge == kEdgePinch) {
    const int32_t r = Modulo(y, 2 * h);  // period 2h: rows, then the turned rows backwards
    turned = r >= h;
    y = turned ? 2 * h - 1 - r : r;
  } else {
    y = std::clamp(y, 0, h - 1);
  }
  x = hEdge == kEdgeWrap ? Modulo(x, w) : std::clamp(x, 0, w - 1);
  if (!turned) return ReadRaw(gw, f, x, y);
  if (w % 2 == 0) return ReadRaw(gw, f, (x + w / 2) % w, y);
  const Pixel p = ReadRaw(gw, f, (x + w / 2) % w, y);
  const Pixel q = ReadRaw(gw, f, (x + w / 2 + 1) % w, y);
  Pixel m{};
  for (size_t c = 0; c < 4; ++c) m[c] = (p[c] + q[c]) / 2;
  return m;
}

// Channel samples of a pixel for the intermediate channel count.
Pixel Samples(const Pixel& raw, const Format& f, int32_t channels) {
  int32_t a = 0, r = 0, g = 0, b = 0;
  switch (f.kind) {
    case kARGB32: {  // bytes of a native little-endian word: B, G, R, A
      const uint32_t word = uint32_t(raw[0]) | uint32_t(raw[1]) << 8 | uint32_t(raw[2]) << 16 |
                            uint32_t(raw[3]) << 24;
      a = int32_t(word >> 24), r = int32_t(word >> 16 & 255), g = int32_t(word >> 8 & 255),
      b = int32_t(word & 255);
      break;
    }
    case kGray8:
      return {raw[0], 0, 0, 0};
    case kRGB48:
      r = raw[0], g = raw[1], b = raw[2];
      break;
    case kARGB64:
      a = raw[0], r = raw[1], g = raw[2], b = raw[3];
      break;
  }
  if (channels == 4) return {a, r, g, b};
  if (channels == 3) return {r, g, b, 0};
  if (f.wide) return {(870 * r + 2931 * g + 295 * b + 2048) / 4096, 0, 0, 0};
  return {(870 * r + 2931 * g + 295 * b + 8) / 16, 0, 0, 0};
}

int32_t FloorShift(int64_t v, int32_t bits) {
  return int32_t(v >= 0 ? v >> bits : -((-v + (int64_t(1) << bits) - 1) >> bits));
}

int32_t ToIntermediate(int32_t acc, const Format& f, int32_t channels) {
  if (f.wide) return FloorShift(acc, 16);
  const int32_t scaled = acc + FloorShift(acc, 8);
  return FloorShift(scaled, channels == 1 && f.kind == kARGB32 ? 16 : 8);
}

int32_t To8(int32_t acc) {
  return std::clamp(FloorShift(int64_t(acc) + 524288, 20), 0, 255);
}
int32_t To16(int32_t acc) {
  return std::clamp(FloorShift(int64_t(acc) + FloorShift(acc, 14), 12), 0, 65535);
}

// Destination bytes of one pixel from the vertical accumulators.
struct Encoded {
  std::array<uint8_t, 8> bytes{};
  size_t size = 0;
  void Put(const void* p, size_t n) {
    std::memcpy(bytes.data() + size, p, n);
    size += n;
  }
  void Put16(int32_t v) {
    const uint16_t w = uint16_t(v);
    Put(&w, 2);
  }
};

Encoded Encode(const std::array<int32_t, 4>& acc, const Format& f, int32_t channels) {
  int32_t a, r, g, b;
  auto conv = [&](int32_t v) { return f.wide ? To16(v) : To8(v); };
  const int32_t full = f.wide ? 65535 : 255;
  if (channels == 4) {
    a = conv(acc[0]), r = conv(acc[1]), g = conv(acc[2]), b = conv(acc[3]);
  } else if (channels == 3) {
    a = full, r = conv(acc[0]), g = conv(acc[1]), b = conv(acc[2]);
  } else {
    a = full, r = g = b = conv(acc[0]);
  }
  Encoded out;
  switch (f.kind) {
    case kARGB32: {
      const uint32_t word = uint32_t(a) << 24 | uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
      out.Put(&word, 4);
      break;
    }
    case kGray8: {
      const uint8_t grey = uint8_t(r);
      out.Put(&grey, 1);
      break;
    }
    case kRGB48:
      out.Put16(r), out.Put16(g), out.Put16(b);
      break;
    case kARGB64:
      out.Put16(a), out.Put16(r), out.Put16(g), out.Put16(b);
      break;
  }
  return out;
}

struct Case {
  int32_t kernel, hEdge, vEdge;
  const Format* from;
  const Format* to;
  int32_t sw, sh, dw, dh;
};

::testing::AssertionResult MatchesDirect(const Case& k, std::mt19937& rng) {
  World src = test::MakeWorld(k.from->code, k.sw, k.sh);
  World dst = test::MakeWorld(k.to->code, k.dw, k.dh);
  test::FillRandom(*src, rng);
  test::FillRandom(*dst, rng);
  const auto sourceBefore = test::Snapshot(*src);
  const auto destBefore = test::Snapshot(*dst);
  const OSErr err = ResampleGWorld(src.get(), dst.get(), EdgeMode(k.hEdge), EdgeMode(k.vEdge),
                                   KernelKind(k.kernel));
  if (err != noErr) return ::testing::AssertionFailure() << "error " << err;
  if (test::Snapshot(*src) != sourceBefore) return ::testing::AssertionFailure() << "source";

  const int32_t channels = Channels(*k.from, *k.to);
  const auto columns = Taps(k.kernel, k.dw, k.sw);
  const auto rows = Taps(k.kernel, k.dh, k.sh);
  const int32_t hEdge = k.hEdge == kEdgeWrap ? kEdgeWrap : kEdgeDefault;  // pinch clamps
  for (int32_t y = 0; y < k.dh; ++y) {
    for (int32_t x = 0; x < k.dw; ++x) {
      std::array<int32_t, 4> vertical{};
      for (const Tap& row : rows[size_t(y)]) {
        std::array<int32_t, 4> horizontal{};
        for (const Tap& column : columns[size_t(x)]) {
          const Pixel s =
              Samples(SourcePixel(*src, *k.from, column.index, row.index, hEdge, k.vEdge), *k.from,
                      channels);
          for (int32_t c = 0; c < channels; ++c)
            horizontal[size_t(c)] += column.weight * s[size_t(c)];
        }
        for (int32_t c = 0; c < channels; ++c) {
          const int16_t sample = int16_t(ToIntermediate(horizontal[size_t(c)], *k.from, channels));
          vertical[size_t(c)] += row.weight * sample;
        }
      }
      const Encoded want = Encode(vertical, *k.to, channels);
      if (std::memcmp(want.bytes.data(), test::PixelAddress(*dst, x, y), want.size) != 0) {
        return ::testing::AssertionFailure() << "pixel " << x << "," << y;
      }
    }
  }
  // Row padding keeps its bytes.
  const int32_t used = k.dw * k.to->bytes;
  for (int32_t y = 0; y < k.dh; ++y) {
    for (int32_t b = used; b < dst->pixMap.rowBytes; ++b) {
      const size_t at = size_t(y) * size_t(dst->pixMap.rowBytes) + size_t(b);
      if (static_cast<uint8_t*>(dst->pixMap.baseAddr)[at] != destBefore[at]) {
        return ::testing::AssertionFailure() << "padding of row " << y;
      }
    }
  }
  return ::testing::AssertionSuccess();
}

TEST(CrossCheck, EveryKernelEdgeModeAndClassPair) {
  std::mt19937 rng(20240611);
  const int32_t lengths[] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 26};
  auto pick = [&] { return lengths[rng() % std::size(lengths)]; };
  int32_t checked = 0;
  for (int32_t kernel : {0, 1, 2}) {
    for (int32_t hEdge : {0, 3, 4}) {
      for (int32_t vEdge : {0, 3, 4}) {
        for (const Format& from : kFormats) {
          for (const Format& to : kFormats) {
            for (int32_t round = 0; round < 2; ++round) {
              const Case k{kernel, hEdge, vEdge, &from, &to, pick(), pick(), pick(), pick()};
              EXPECT_TRUE(MatchesDirect(k, rng))
                  << "kernel " << kernel << " edges " << hEdge << "," << vEdge << " formats "
                  << from.kind << "->" << to.kind << " " << k.sw << "x" << k.sh << "->" << k.dw
                  << "x" << k.dh;
              ++checked;
            }
          }
        }
      }
    }
  }
  EXPECT_EQ(checked, 864);
}

TEST(CrossCheck, StrongReductionsAndEnlargements) {
  std::mt19937 rng(7);
  const int32_t sizes[][4] = {{61, 3, 2, 40}, {3, 61, 40, 2}, {97, 45, 11, 6}, {5, 4, 63, 37},
                              {2, 2, 31, 29}, {64, 1, 3, 5},  {99, 3, 2, 4},   {3, 162, 5, 2}};
  for (int32_t kernel : {0, 1, 2}) {
    for (const auto& s : sizes) {
      for (int32_t edges : {0, 1, 2, 3}) {
        const int32_t hEdge = edges & 1 ? kEdgeWrap : kEdgeDefault;
        const int32_t vEdge = edges == 2 ? kEdgeWrap : edges == 3 ? kEdgePinch : kEdgeDefault;
        const Case k{kernel, hEdge, vEdge, &kFormats[0], &kFormats[3], s[0], s[1], s[2], s[3]};
        EXPECT_TRUE(MatchesDirect(k, rng))
            << kernel << " " << edges << " " << s[0] << "x" << s[1] << "->" << s[2] << "x" << s[3];
      }
    }
  }
}

}  // namespace
