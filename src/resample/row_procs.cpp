#include "resample/row_procs.h"

#include <cstring>

#include "resample/filter_table.h"
#include "resample/row_procs_simd.h"

namespace {

uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
int32_t Load16(const uint8_t* p, int32_t index) {
  uint16_t v;
  std::memcpy(&v, p + 2 * index, sizeof v);
  return v;
}
void Store32At(uint8_t* p, uint32_t v) {
  std::memcpy(p, &v, sizeof v);
}
void Store16At(uint8_t* p, int32_t index, int32_t v) {
  const uint16_t w = uint16_t(v);
  std::memcpy(p + 2 * index, &w, sizeof w);
}

// Source readers: the channel samples of one pixel and the conversion of
// their accumulators to intermediate samples.

struct ReadARGB32As4 {
  static constexpr int32_t kChannels = 4, kBytes = 4;
  static void Read(const uint8_t* p, int32_t* s) {
    const uint32_t w = Load32(p);
    s[0] = int32_t(w >> 24);
    s[1] = int32_t((w >> 16) & 255);
    s[2] = int32_t((w >> 8) & 255);
    s[3] = int32_t(w & 255);
  }
  static int32_t Fetch(int32_t acc) { return Fetch8(acc); }
};

struct ReadARGB64As4 {
  static constexpr int32_t kChannels = 4, kBytes = 8;
  static void Read(const uint8_t* p, int32_t* s) {
    for (int32_t c = 0; c < 4; ++c) s[c] = Load16(p, c);
  }
  static int32_t Fetch(int32_t acc) { return Fetch16(acc); }
};

struct ReadARGB32As3 {
  static constexpr int32_t kChannels = 3, kBytes = 4;
  static void Read(const uint8_t* p, int32_t* s) {
    const uint32_t w = Load32(p);
    s[0] = int32_t((w >> 16) & 255);
    s[1] = int32_t((w >> 8) & 255);
    s[2] = int32_t(w & 255);
  }
  static int32_t Fetch(int32_t acc) { return Fetch8(acc); }
};

struct ReadRGB48As3 {
  static constexpr int32_t kChannels = 3, kBytes = 6;
  static void Read(const uint8_t* p, int32_t* s) {
    for (int32_t c = 0; c < 3; ++c) s[c] = Load16(p, c);
  }
  static int32_t Fetch(int32_t acc) { return Fetch16(acc); }
};

struct ReadARGB64As3 {
  static constexpr int32_t kChannels = 3, kBytes = 8;
  static void Read(const uint8_t* p, int32_t* s) {
    for (int32_t c = 0; c < 3; ++c) s[c] = Load16(p, c + 1);
  }
  static int32_t Fetch(int32_t acc) { return Fetch16(acc); }
};

struct ReadARGB32AsGrey {
  static constexpr int32_t kChannels = 1, kBytes = 4;
  static void Read(const uint8_t* p, int32_t* s) {
    const uint32_t w = Load32(p);
    s[0] = GreyFrom8(int32_t((w >> 16) & 255), int32_t((w >> 8) & 255), int32_t(w & 255));
  }
  static int32_t Fetch(int32_t acc) { return FetchY8(acc); }
};

struct ReadGray8 {
  static constexpr int32_t kChannels = 1, kBytes = 1;
  static void Read(const uint8_t* p, int32_t* s) { s[0] = *p; }
  static int32_t Fetch(int32_t acc) { return Fetch8(acc); }
};

struct ReadRGB48AsGrey {
  static constexpr int32_t kChannels = 1, kBytes = 6;
  static void Read(const uint8_t* p, int32_t* s) {
    s[0] = GreyFrom16(Load16(p, 0), Load16(p, 1), Load16(p, 2));
  }
  static int32_t Fetch(int32_t acc) { return Fetch16(acc); }
};

struct ReadARGB64AsGrey {
  static constexpr int32_t kChannels = 1, kBytes = 8;
  static void Read(const uint8_t* p, int32_t* s) {
    s[0] = GreyFrom16(Load16(p, 1), Load16(p, 2), Load16(p, 3));
  }
  static int32_t Fetch(int32_t acc) { return Fetch16(acc); }
};

// Destination writers: one pixel from the accumulators of its channels.

struct WriteARGB32From4 {
  static constexpr int32_t kChannels = 4, kBytes = 4;
  static void Write(uint8_t* p, const int32_t* acc) {
    Store32At(p, uint32_t(Store8(acc[0])) << 24 | uint32_t(Store8(acc[1])) << 16 |
                     uint32_t(Store8(acc[2])) << 8 | uint32_t(Store8(acc[3])));
  }
};

struct WriteARGB64From4 {
  static constexpr int32_t kChannels = 4, kBytes = 8;
  static void Write(uint8_t* p, const int32_t* acc) {
    for (int32_t c = 0; c < 4; ++c) Store16At(p, c, Store16(acc[c]));
  }
};

struct WriteARGB32From3 {
  static constexpr int32_t kChannels = 3, kBytes = 4;
  static void Write(uint8_t* p, const int32_t* acc) {
    Store32At(p, uint32_t(255) << 24 | uint32_t(Store8(acc[0])) << 16 |
                     uint32_t(Store8(acc[1])) << 8 | uint32_t(Store8(acc[2])));
  }
};

struct WriteRGB48From3 {
  static constexpr int32_t kChannels = 3, kBytes = 6;
  static void Write(uint8_t* p, const int32_t* acc) {
    for (int32_t c = 0; c < 3; ++c) Store16At(p, c, Store16(acc[c]));
  }
};

struct WriteARGB64From3 {
  static constexpr int32_t kChannels = 3, kBytes = 8;
  static void Write(uint8_t* p, const int32_t* acc) {
    Store16At(p, 0, 65535);
    for (int32_t c = 0; c < 3; ++c) Store16At(p, c + 1, Store16(acc[c]));
  }
};

struct WriteARGB32FromGrey {
  static constexpr int32_t kChannels = 1, kBytes = 4;
  static void Write(uint8_t* p, const int32_t* acc) {
    const uint32_t g = uint32_t(Store8(acc[0]));
    Store32At(p, uint32_t(255) << 24 | g << 16 | g << 8 | g);
  }
};

struct WriteGray8 {
  static constexpr int32_t kChannels = 1, kBytes = 1;
  static void Write(uint8_t* p, const int32_t* acc) { *p = uint8_t(Store8(acc[0])); }
};

struct WriteRGB48FromGrey {
  static constexpr int32_t kChannels = 1, kBytes = 6;
  static void Write(uint8_t* p, const int32_t* acc) {
    const int32_t g = Store16(acc[0]);
    for (int32_t c = 0; c < 3; ++c) Store16At(p, c, g);
  }
};

struct WriteARGB64FromGrey {
  static constexpr int32_t kChannels = 1, kBytes = 8;
  static void Write(uint8_t* p, const int32_t* acc) {
    const int32_t g = Store16(acc[0]);
    Store16At(p, 0, 65535);
    for (int32_t c = 1; c < 4; ++c) Store16At(p, c, g);
  }
};

template <typename Reader>
void FilterRowHorizontally(const ResampleContext* context, const uint8_t* sourceRow,
                           int16_t* intermediateRow) {
  constexpr int32_t kChannels = Reader::kChannels;
  for (int32_t i = 0; i < context->destinationWidth; ++i) {
    const int16_t* entry = HorizontalEntry(context, i);
    const int32_t count = EntryCount(entry);
    const int16_t* weights = EntryWeights(entry);
    const uint8_t* pixel = sourceRow + int64_t(EntryStart(entry)) * Reader::kBytes;
    int32_t acc[kChannels] = {};
    for (int32_t k = 0; k < count; ++k, pixel += Reader::kBytes) {
      int32_t samples[kChannels];
      Reader::Read(pixel, samples);
      for (int32_t c = 0; c < kChannels; ++c) acc[c] += weights[k] * samples[c];
    }
    int16_t* out = intermediateRow + int64_t(i) * kChannels;
    for (int32_t c = 0; c < kChannels; ++c) out[c] = int16_t(Reader::Fetch(acc[c]));
  }
}

template <typename Writer>
void FilterRowsVertically(const ResampleContext* context, const uint8_t* firstRow,
                          const int16_t* entry, uint8_t* destinationRow) {
  constexpr int32_t kChannels = Writer::kChannels;
  const int32_t count = EntryCount(entry);
  const int16_t* weights = EntryWeights(entry);
  for (int32_t i = 0; i < context->destinationWidth; ++i) {
    int32_t acc[kChannels] = {};
    const uint8_t* row = firstRow + int64_t(i) * kChannels * 2;
    for (int32_t k = 0; k < count; ++k, row += context->ringRowSize) {
      int16_t samples[kChannels];
      std::memcpy(samples, row, sizeof samples);
      for (int32_t c = 0; c < kChannels; ++c) acc[c] += weights[k] * samples[c];
    }
    Writer::Write(destinationRow + int64_t(i) * Writer::kBytes, acc);
  }
}

void SumSamples(const ResampleContext* context, const uint8_t* firstRow, const int16_t* entry,
                int64_t first, int64_t n, int32_t* sums) {
  const int32_t count = EntryCount(entry);
  const int16_t* weights = EntryWeights(entry);
  for (int64_t j = 0; j < n; ++j) {
    const uint8_t* row = firstRow + (first + j) * 2;
    int32_t acc = 0;
    for (int32_t k = 0; k < count; ++k, row += context->ringRowSize) {
      int16_t sample;
      std::memcpy(&sample, row, sizeof sample);
      acc += weights[k] * sample;
    }
    sums[j] = acc;
  }
}

// Indexed by channel count (1, 3, 4 as rows 0, 1, 2) and class.
constexpr HorizontalProc kHorizontalProcs[3][kPixelClassCount] = {
    {FilterRowHorizontally<ReadARGB32AsGrey>, FilterRowHorizontally<ReadGray8>,
     FilterRowHorizontally<ReadRGB48AsGrey>, FilterRowHorizontally<ReadARGB64AsGrey>},
    {FilterRowHorizontally<ReadARGB32As3>, nullptr, FilterRowHorizontally<ReadRGB48As3>,
     FilterRowHorizontally<ReadARGB64As3>},
    {FilterRowHorizontally<ReadARGB32As4>, nullptr, nullptr, FilterRowHorizontally<ReadARGB64As4>},
};

constexpr VerticalProc kVerticalProcs[3][kPixelClassCount] = {
    {FilterRowsVertically<WriteARGB32FromGrey>, FilterRowsVertically<WriteGray8>,
     FilterRowsVertically<WriteRGB48FromGrey>, FilterRowsVertically<WriteARGB64FromGrey>},
    {FilterRowsVertically<WriteARGB32From3>, nullptr, FilterRowsVertically<WriteRGB48From3>,
     FilterRowsVertically<WriteARGB64From3>},
    {FilterRowsVertically<WriteARGB32From4>, nullptr, nullptr,
     FilterRowsVertically<WriteARGB64From4>},
};

int32_t ChannelRow(int32_t channels) {
  switch (channels) {
    case 1:
      return 0;
    case 3:
      return 1;
    case 4:
      return 2;
    default:
      return -1;
  }
}

}  // namespace

HorizontalProc HorizontalProcFor(int32_t channels, PixelClass sourceClass) {
  const int32_t row = ChannelRow(channels);
  if (row < 0 || sourceClass >= kPixelClassCount) return nullptr;
  return kHorizontalProcs[row][sourceClass];
}

VerticalProc VerticalProcFor(int32_t channels, PixelClass destinationClass) {
  const int32_t row = ChannelRow(channels);
  if (row < 0 || destinationClass >= kPixelClassCount) return nullptr;
  return kVerticalProcs[row][destinationClass];
}

HorizontalProc HorizontalProcFor(int32_t channels, PixelClass sourceClass, SimdLevel level) {
  HorizontalProc proc = nullptr;
  if (level >= kSimdAvx2) proc = Avx2HorizontalProc(channels, sourceClass);
  if (proc == nullptr && level >= kSimdSse2) proc = Sse2HorizontalProc(channels, sourceClass);
  return proc != nullptr ? proc : HorizontalProcFor(channels, sourceClass);
}

VerticalProc VerticalProcFor(int32_t channels, PixelClass destinationClass, SimdLevel level) {
  VerticalProc proc = nullptr;
  if (level >= kSimdAvx2) proc = Avx2VerticalProc(channels, destinationClass);
  if (proc == nullptr && level >= kSimdSse2) proc = Sse2VerticalProc(channels, destinationClass);
  return proc != nullptr ? proc : VerticalProcFor(channels, destinationClass);
}

SumsProc SumsProcFor(SimdLevel level) {
  SumsProc proc = nullptr;
  if (level >= kSimdAvx2) proc = Avx2SumsProc();
  if (proc == nullptr && level >= kSimdSse2) proc = Sse2SumsProc();
  return proc != nullptr ? proc : SumSamples;
}
