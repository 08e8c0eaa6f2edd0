#include "resample/filter_space.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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

// Source rows to working rows: every sample taken to 16 bits, 8-bit alpha
// and straight colour as 257 v, linear colour through the table.
// Premultiplied colour is round(X · A / 65535) of 16-bit colour X and alpha
// A, which for an 8-bit alpha a is round(X · a / 255); neither ever falls on
// a half. Opaque pixels keep X. Pixels go from the last, so that a row can
// be widened in place.

template <bool kLinear, bool kPremultiply>
uint64_t WorkingPixel(const uint16_t* lin, uint32_t p) {
  const uint32_t a = p >> 24;
  uint64_t x[3];
  for (int32_t c = 0; c < 3; ++c) {
    const uint32_t v = (p >> (16 - 8 * c)) & 255;
    x[c] = kLinear ? lin[v] : 257 * v;
    if (kPremultiply && a != 255) x[c] = (uint32_t(x[c]) * a + 127) / 255;
  }
  return 257 * a | x[0] << 16 | x[1] << 32 | x[2] << 48;
}

// Two pixels a step: one load, and more work in flight.
template <bool kLinear, bool kPremultiply>
void ARGB32ToARGB64(const uint16_t* lin, const uint8_t* source, int64_t pixels, uint8_t* working) {
  int64_t i = pixels;
  if (i % 2 == 1) {
    --i;
    const uint64_t w = WorkingPixel<kLinear, kPremultiply>(lin, Load32(source + 4 * i));
    std::memcpy(working + 8 * i, &w, 8);
  }
  for (i -= 2; i >= 0; i -= 2) {
    uint64_t two;
    std::memcpy(&two, source + 4 * i, 8);
    const uint64_t first = WorkingPixel<kLinear, kPremultiply>(lin, uint32_t(two));
    const uint64_t second = WorkingPixel<kLinear, kPremultiply>(lin, uint32_t(two >> 32));
    std::memcpy(working + 8 * i + 8, &second, 8);
    std::memcpy(working + 8 * i, &first, 8);
  }
}

template <bool kLinear, bool kPremultiply>
void ARGB64ToARGB64(const uint16_t* lin, const uint8_t* source, int64_t pixels, uint8_t* working) {
  for (int64_t i = pixels - 1; i >= 0; --i) {
    uint16_t w[4];
    LoadWords(source + 8 * i, w, 4);
    const uint32_t a = w[0];
    for (int32_t c = 1; c < 4; ++c) {
      uint32_t x = kLinear ? lin[w[c]] : w[c];
      if (kPremultiply && a != 65535) x = (x * a + 32767) / 65535;
      w[c] = uint16_t(x);
    }
    StoreWords(working + 8 * i, w, 4);
  }
}

void RGB48ToRGB48(const uint16_t* lin, const uint8_t* source, int64_t pixels, uint8_t* working) {
  for (int64_t i = pixels - 1; i >= 0; --i) {
    uint16_t w[3];
    LoadWords(source + 6 * i, w, 3);
    for (uint16_t& x : w) x = lin[x];
    StoreWords(working + 6 * i, w, 3);
  }
}

template <bool kLinear, bool kPremultiply>
ConvertRowProc ConverterOf(PixelClass source) {
  if (source == kClassARGB32) return ARGB32ToARGB64<kLinear, kPremultiply>;
  if (source == kClassARGB64) return ARGB64ToARGB64<kLinear, kPremultiply>;
  return RGB48ToRGB48;
}

// Destination pixels from vertical sums. Alpha is stored as without this
// space. A colour sum sC is divided by the alpha sum sA: floor((sC ·
// kOpaqueSum + floor(sA / 2)) / sA), 0 where either is not positive, and
// kept as it is where sA is opaque; at most twice the opaque sum, which
// stores as full scale and leaves the stores room within 32 bits. Linear
// colour is stored to 16 bits and then taken through the curve.

template <bool kPremultiply>
int32_t Unweighted(int32_t colour, int32_t alpha) {
  if (!kPremultiply || alpha == kOpaqueSum) return colour;
  if (alpha <= 0 || colour <= 0) return 0;
  const int64_t u = (int64_t(colour) * kOpaqueSum + alpha / 2) / alpha;
  return int32_t(std::min<int64_t>(u, 2 * kOpaqueSum));
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

// Alpha weighs the colour, and goes.
template <bool kLinear, bool kPremultiply>
void FourToRGB48(const SpaceRows& rows, const int32_t* s, int64_t pixels, uint8_t* out) {
  for (int64_t i = 0; i < pixels; ++i, s += 4, out += 6) {
    uint16_t w[3];
    for (int32_t c = 0; c < 3; ++c) {
      w[c] = Colour16<kLinear>(rows, Unweighted<kPremultiply>(s[c + 1], s[0]));
    }
    StoreWords(out, w, 3);
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
FinishProc FinisherOfFour(PixelClass destination) {
  if (destination == kClassARGB32) return FourToARGB32<kLinear, kPremultiply>;
  return destination == kClassARGB64 ? FourToARGB64<kLinear, kPremultiply>
                                     : FourToRGB48<kLinear, kPremultiply>;
}

FinishProc FinisherOf(FilterSpace space, int32_t channels, PixelClass destination) {
  if (channels == 4) {
    if (space.linear && space.premultiply) return FinisherOfFour<true, true>(destination);
    if (space.linear) return FinisherOfFour<true, false>(destination);
    return FinisherOfFour<false, true>(destination);
  }
  if (destination == kClassARGB32) return ThreeToARGB32;
  return destination == kClassARGB64 ? ThreeToWide16<1> : ThreeToWide16<0>;
}

// The source row (with its margins, when padded) to working samples, then
// the 16-bit horizontal filter.
void ConvertThenFilter(const ResampleContext* context, const uint8_t* sourceRow,
                       int16_t* intermediateRow) {
  const SpaceRows& rows = *context->spaceRows;
  const int64_t margin = rows.marginPixels;
  rows.convert(rows.toLinear, sourceRow - margin * rows.sourceBytes,
               context->sourceWidth + 2 * margin, rows.workingRow - margin * rows.workingBytes);
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
  if (IntermediateChannels(source, destination) == 1) return {};
  return {asked.linear, asked.premultiply && ChannelsOfClass(source) == 4};
}

int32_t SpaceChannels(FilterSpace space, PixelClass source, PixelClass destination) {
  return space.premultiply ? 4 : IntermediateChannels(source, destination);
}

bool IsDefaultSpace(FilterSpace space) {
  return !space.linear && !space.premultiply;
}

namespace {

PixelClass WorkingClass(PixelClass source) {
  return source == kClassARGB32 ? kClassARGB64 : source;
}

ConvertRowProc ConverterFor(FilterSpace space, PixelClass source) {
  if (space.linear && space.premultiply) return ConverterOf<true, true>(source);
  if (space.linear) return ConverterOf<true, false>(source);
  return ConverterOf<false, true>(source);
}

const uint16_t* LinearTableFor(FilterSpace space, PixelClass source) {
  if (!space.linear) return nullptr;
  return source == kClassARGB32 ? LinearFrom8() : LinearFrom16();
}

}  // namespace

int64_t WorkingRowBytes(PixelClass source, int64_t pixels) {
  return pixels * BytesPerPixelOfClass(WorkingClass(source));
}

void UseFilterSpace(ResampleContext* context, SpaceRows* rows, uint8_t* workingRow,
                    int64_t marginPixels, SimdLevel level) {
  const FilterSpace space = context->space;
  const PixelClass source = context->sourceClass, destination = context->destinationClass;
  rows->channels = SpaceChannels(space, source, destination);
  rows->destinationBytes = BytesPerPixelOfClass(destination);
  if (space.linear) {
    if (destination == kClassARGB32) {
      rows->toStored8 = Stored8FromLinear();
    } else {
      rows->toStored16 = Stored16FromLinear();
    }
  }
  rows->finish = FinisherOf(space, rows->channels, destination);
  rows->sums = SumsProcFor(level);
  context->spaceRows = rows;
  context->vertical = SumThenFinish;
  if (context->sourceSamples == SourceSamples::kWorking) return;  // converted as drawn
  const PixelClass working = WorkingClass(source);
  rows->sourceBytes = BytesPerPixelOfClass(source);
  rows->workingBytes = BytesPerPixelOfClass(working);
  rows->marginPixels = marginPixels;
  rows->workingRow = workingRow + marginPixels * rows->workingBytes;
  rows->toLinear = LinearTableFor(space, source);
  rows->convert = ConverterFor(space, source);
  rows->filterWorking = HorizontalProcFor(rows->channels, working, level);
  context->horizontal = ConvertThenFilter;
}

OSType WorkingFormat(FilterSpace space, OSType source, OSType destination) {
  const PixelClass from = ClassifyPixelFormat(source);
  const PixelClass to = ClassifyPixelFormat(destination);
  if (from == kClassNone || to == kClassNone) return 0;
  if (IsDefaultSpace(EffectiveFilterSpace(space, from, to))) return 0;
  constexpr OSType kFormats[kPixelClassCount] = {k32ARGBPixelFormat, 0, k48RGBCodecType,
                                                 k64ARGBPixelFormat};
  return kFormats[WorkingClass(from)];
}

void ConvertToWorking(FilterSpace space, OSType source, OSType destination, uint8_t* row,
                      int32_t width) {
  const PixelClass from = ClassifyPixelFormat(source);
  const FilterSpace effective = EffectiveFilterSpace(space, from, ClassifyPixelFormat(destination));
  if (IsDefaultSpace(effective)) return;
  ConverterFor(effective, from)(LinearTableFor(effective, from), row, width, row);
}
