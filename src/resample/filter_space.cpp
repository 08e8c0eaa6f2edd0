#include "resample/filter_space.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "resample/row_procs.h"

namespace {

// IEC 61966-2-1, in double precision.
double ToLinear(double v) {
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}
double FromLinear(double v) {
  return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
}
// Halves rounded up, clamped to 0 … top.
int32_t Rounded(double v, int32_t top) {
  const double r = std::floor(v + 0.5);
  return r < 0 ? 0 : (r > top ? top : int32_t(r));
}

template <typename T, int32_t kEntries>
struct Table {
  T entries[kEntries];
};

struct LinearTable8 : Table<uint16_t, 256> {
  LinearTable8() {
    for (int32_t v = 0; v < 256; ++v)
      entries[v] = uint16_t(Rounded(65535 * ToLinear(v / 255.0), 65535));
  }
};
struct LinearTable16 : Table<uint16_t, 65536> {
  LinearTable16() {
    for (int32_t v = 0; v < 65536; ++v) {
      entries[v] = uint16_t(Rounded(65535 * ToLinear(v / 65535.0), 65535));
    }
  }
};
struct StoredTable8 : Table<uint8_t, 65536> {
  StoredTable8() {
    for (int32_t x = 0; x < 65536; ++x)
      entries[x] = uint8_t(Rounded(255 * FromLinear(x / 65535.0), 255));
  }
};
struct StoredTable16 : Table<uint16_t, 65536> {
  StoredTable16() {
    for (int32_t x = 0; x < 65536; ++x) {
      entries[x] = uint16_t(Rounded(65535 * FromLinear(x / 65535.0), 65535));
    }
  }
};

uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void Store32(uint8_t* p, uint32_t v) {
  std::memcpy(p, &v, sizeof v);
}
void LoadWords(const uint8_t* p, uint16_t* w, int32_t n) {
  std::memcpy(w, p, size_t(n) * 2);
}
void StoreWords(uint8_t* p, const uint16_t* w, int32_t n) {
  std::memcpy(p, w, size_t(n) * 2);
}

// Source rows to working rows. Every sample is taken to 16 bits: 8-bit
// alpha and straight colour as 257 v, linear colour through the table.
// Premultiplied colour is round(X · A / 65535) of 16-bit colour X and alpha
// A, which for an 8-bit alpha a is round(X · a / 255); neither ever falls on
// a half. Opaque pixels keep X.

template <bool kLinear, bool kPremultiply>
void ARGB32ToARGB64(const SpaceRows& rows, const uint8_t* source, int64_t pixels,
                    uint8_t* working) {
  const uint16_t* lin = rows.toLinear;
  for (int64_t i = 0; i < pixels; ++i, source += 4, working += 8) {
    const uint32_t p = Load32(source);
    const uint32_t a = p >> 24;
    uint32_t x[3];
    for (int32_t c = 0; c < 3; ++c) {
      const uint32_t v = (p >> (16 - 8 * c)) & 255;
      x[c] = kLinear ? lin[v] : 257 * v;
      if (kPremultiply && a != 255) x[c] = (x[c] * a + 127) / 255;
    }
    const uint16_t w[4] = {uint16_t(257 * a), uint16_t(x[0]), uint16_t(x[1]), uint16_t(x[2])};
    StoreWords(working, w, 4);
  }
}

template <bool kLinear, bool kPremultiply>
void ARGB64ToARGB64(const SpaceRows& rows, const uint8_t* source, int64_t pixels,
                    uint8_t* working) {
  const uint16_t* lin = rows.toLinear;
  for (int64_t i = 0; i < pixels; ++i, source += 8, working += 8) {
    uint16_t w[4];
    LoadWords(source, w, 4);
    const uint32_t a = w[0];
    for (int32_t c = 1; c < 4; ++c) {
      uint32_t x = kLinear ? lin[w[c]] : w[c];
      if (kPremultiply && a != 65535) x = (x * a + 32767) / 65535;
      w[c] = uint16_t(x);
    }
    StoreWords(working, w, 4);
  }
}

// Three channels: colour only, in linear light.
void ARGB32ToRGB48(const SpaceRows& rows, const uint8_t* source, int64_t pixels, uint8_t* working) {
  for (int64_t i = 0; i < pixels; ++i, source += 4, working += 6) {
    const uint32_t p = Load32(source);
    const uint16_t w[3] = {rows.toLinear[(p >> 16) & 255], rows.toLinear[(p >> 8) & 255],
                           rows.toLinear[p & 255]};
    StoreWords(working, w, 3);
  }
}

template <int32_t kFirst, int32_t kBytes>
void Wide16ToRGB48(const SpaceRows& rows, const uint8_t* source, int64_t pixels, uint8_t* working) {
  for (int64_t i = 0; i < pixels; ++i, source += kBytes, working += 6) {
    uint16_t w[3];
    LoadWords(source + 2 * kFirst, w, 3);
    for (uint16_t& x : w) x = rows.toLinear[x];
    StoreWords(working, w, 3);
  }
}

// Destination pixels from vertical sums. Alpha is stored as without this
// space. A colour sum sC is divided by the alpha sum sA: floor((sC ·
// kOpaqueSum + floor(sA / 2)) / sA), 0 where either is not positive, and
// kept as it is where sA is opaque. Linear colour is stored to 16 bits and
// then taken through the curve.

template <bool kPremultiply>
int32_t Unweighted(int32_t colour, int32_t alpha) {
  if (!kPremultiply || alpha == kOpaqueSum) return colour;
  if (alpha <= 0 || colour <= 0) return 0;
  const int64_t u = (int64_t(colour) * kOpaqueSum + alpha / 2) / alpha;
  return int32_t(std::min<int64_t>(u, std::numeric_limits<int32_t>::max()));
}

template <bool kLinear>
uint32_t Colour8(const SpaceRows& rows, int32_t sum) {
  return kLinear ? rows.toStored8[Store16(sum)] : uint32_t(Store8(sum));
}
template <bool kLinear>
uint16_t Colour16(const SpaceRows& rows, int32_t sum) {
  return uint16_t(kLinear ? rows.toStored16[Store16(sum)] : Store16(sum));
}

template <bool kLinear, bool kPremultiply>
void FourToARGB32(const SpaceRows& rows, const int32_t* s, int64_t pixels, uint8_t* out) {
  for (int64_t i = 0; i < pixels; ++i, s += 4, out += 4) {
    uint32_t p = uint32_t(Store8(s[0])) << 24;
    for (int32_t c = 1; c < 4; ++c) {
      p |= Colour8<kLinear>(rows, Unweighted<kPremultiply>(s[c], s[0])) << (24 - 8 * c);
    }
    Store32(out, p);
  }
}

template <bool kLinear, bool kPremultiply>
void FourToARGB64(const SpaceRows& rows, const int32_t* s, int64_t pixels, uint8_t* out) {
  for (int64_t i = 0; i < pixels; ++i, s += 4, out += 8) {
    uint16_t w[4] = {uint16_t(Store16(s[0]))};
    for (int32_t c = 1; c < 4; ++c)
      w[c] = Colour16<kLinear>(rows, Unweighted<kPremultiply>(s[c], s[0]));
    StoreWords(out, w, 4);
  }
}

void ThreeToARGB32(const SpaceRows& rows, const int32_t* s, int64_t pixels, uint8_t* out) {
  for (int64_t i = 0; i < pixels; ++i, s += 3, out += 4) {
    Store32(out, 0xFF000000u | Colour8<true>(rows, s[0]) << 16 | Colour8<true>(rows, s[1]) << 8 |
                     Colour8<true>(rows, s[2]));
  }
}

template <int32_t kAlphaWords>
void ThreeToWide16(const SpaceRows& rows, const int32_t* s, int64_t pixels, uint8_t* out) {
  for (int64_t i = 0; i < pixels; ++i, s += 3, out += 2 * (3 + kAlphaWords)) {
    const uint16_t w[4] = {65535, Colour16<true>(rows, s[0]), Colour16<true>(rows, s[1]),
                           Colour16<true>(rows, s[2])};
    StoreWords(out, w + 1 - kAlphaWords, 3 + kAlphaWords);
  }
}

template <bool kLinear, bool kPremultiply>
void ChooseFour(PixelClass source, PixelClass destination, SpaceRows* rows) {
  rows->convert = source == kClassARGB32 ? ARGB32ToARGB64<kLinear, kPremultiply>
                                         : ARGB64ToARGB64<kLinear, kPremultiply>;
  rows->finish = destination == kClassARGB32 ? FourToARGB32<kLinear, kPremultiply>
                                             : FourToARGB64<kLinear, kPremultiply>;
}

void ChooseThree(PixelClass source, PixelClass destination, SpaceRows* rows) {
  switch (source) {
    case kClassARGB32:
      rows->convert = ARGB32ToRGB48;
      break;
    case kClassARGB64:
      rows->convert = Wide16ToRGB48<1, 8>;
      break;
    default:
      rows->convert = Wide16ToRGB48<0, 6>;
  }
  switch (destination) {
    case kClassARGB32:
      rows->finish = ThreeToARGB32;
      break;
    case kClassARGB64:
      rows->finish = ThreeToWide16<1>;
      break;
    default:
      rows->finish = ThreeToWide16<0>;
  }
}

// The source row (with its margins, when padded) to working samples, then
// the 16-bit horizontal filter.
void ConvertThenFilter(const ResampleContext* context, const uint8_t* sourceRow,
                       int16_t* intermediateRow) {
  const SpaceRows& rows = *context->spaceRows;
  const int64_t margin = rows.marginPixels;
  rows.convert(rows, sourceRow - margin * rows.sourceBytes, context->sourceWidth + 2 * margin,
               rows.workingRow - margin * rows.workingBytes);
  rows.filterWorking(context, rows.workingRow, intermediateRow);
}

void SumThenFinish(const ResampleContext* context, const uint8_t* firstRow, const int16_t* entry,
                   uint8_t* destinationRow) {
  const SpaceRows& rows = *context->spaceRows;
  constexpr int64_t kSpanPixels = 256;
  alignas(32) int32_t sums[kSpanPixels * 4];
  const int64_t width = context->destinationWidth;
  for (int64_t x = 0; x < width; x += kSpanPixels) {
    const int64_t pixels = std::min(kSpanPixels, width - x);
    rows.sums(context, firstRow, entry, x * rows.channels, pixels * rows.channels, sums);
    rows.finish(rows, sums, pixels, destinationRow + x * rows.destinationBytes);
  }
}

}  // namespace

const uint16_t* LinearFrom8() {
  static const LinearTable8 table;
  return table.entries;
}
const uint16_t* LinearFrom16() {
  static const LinearTable16 table;
  return table.entries;
}
const uint8_t* Stored8FromLinear() {
  static const StoredTable8 table;
  return table.entries;
}
const uint16_t* Stored16FromLinear() {
  static const StoredTable16 table;
  return table.entries;
}

FilterSpace EffectiveFilterSpace(FilterSpace asked, PixelClass source, PixelClass destination) {
  const int32_t channels = IntermediateChannels(source, destination);
  if (channels == 1) return {};
  return {asked.linear, asked.premultiply && channels == 4};
}

bool IsDefaultSpace(FilterSpace space) {
  return !space.linear && !space.premultiply;
}

int64_t WorkingRowBytes(int32_t channels, int64_t pixels) {
  return pixels * 2 * channels;
}

void UseFilterSpace(ResampleContext* context, SpaceRows* rows, uint8_t* workingRow,
                    int64_t marginPixels, SimdLevel level) {
  const FilterSpace space = context->space;
  const PixelClass source = context->sourceClass, destination = context->destinationClass;
  rows->channels = IntermediateChannels(source, destination);
  rows->sourceBytes = BytesPerPixelOfClass(source);
  rows->workingBytes = 2 * rows->channels;
  rows->destinationBytes = BytesPerPixelOfClass(destination);
  rows->marginPixels = marginPixels;
  rows->workingRow = workingRow + marginPixels * rows->workingBytes;
  if (space.linear) {
    rows->toLinear = source == kClassARGB32 ? LinearFrom8() : LinearFrom16();
    if (destination == kClassARGB32) {
      rows->toStored8 = Stored8FromLinear();
    } else {
      rows->toStored16 = Stored16FromLinear();
    }
  }
  if (rows->channels == 4) {
    if (space.linear && space.premultiply) {
      ChooseFour<true, true>(source, destination, rows);
    } else if (space.linear) {
      ChooseFour<true, false>(source, destination, rows);
    } else {
      ChooseFour<false, true>(source, destination, rows);
    }
  } else {
    ChooseThree(source, destination, rows);
  }
  const PixelClass working = rows->channels == 4 ? kClassARGB64 : kClassRGB48;
  rows->filterWorking = HorizontalProcFor(rows->channels, working, level);
  rows->sums = SumsProcFor(level);
  context->spaceRows = rows;
  context->horizontal = ConvertThenFilter;
  context->vertical = SumThenFinish;
}
