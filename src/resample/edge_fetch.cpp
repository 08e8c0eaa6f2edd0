#include "resample/edge_fetch.h"

#include <cassert>
#include <cstring>

namespace {

const EdgeFetcher* FetcherOf(const ResampleContext* context) {
  return reinterpret_cast<const EdgeFetcher*>(context);
}

// Mean of two samples of type T, truncated.
template <typename T>
void MeanOfPixels(const uint8_t* p, const uint8_t* q, uint8_t* out, int32_t bytesPerPixel) {
  for (int32_t b = 0; b < bytesPerPixel; b += int32_t(sizeof(T))) {
    T a;
    T c;
    std::memcpy(&a, p + b, sizeof(T));
    std::memcpy(&c, q + b, sizeof(T));
    const T mean = T((uint32_t(a) + uint32_t(c)) >> 1);
    std::memcpy(out + b, &mean, sizeof(T));
  }
}

const uint8_t* InnerRow(const EdgeFetcher* f, int32_t row) {
  return f->inner->sourceRow(f->inner, row);
}

const uint8_t* PinchedRow(const EdgeFetcher* f, int32_t row) {
  const int32_t rho = PinchRowIndex(row, f->sourceHeight);
  if (rho >= 0) return InnerRow(f, rho);
  HalfTurnRow(InnerRow(f, -1 - rho), f->rowBuffer, f->context.sourceWidth, f->context.sourceClass);
  return f->rowBuffer;
}

const uint8_t* PaddedRow(const EdgeFetcher* f, const uint8_t* row) {
  if (row != f->rowBuffer) std::memmove(f->rowBuffer, row, size_t(f->rowLength));
  const int32_t bytesPerPixel = BytesPerPixelOfClass(f->context.sourceClass);
  PadRowCircular(f->rowBuffer, f->context.sourceWidth, int32_t(f->margin / bytesPerPixel),
                 bytesPerPixel);
  return f->rowBuffer;
}

const uint8_t* FetchPadded(const ResampleContext* c, int32_t row) {
  const EdgeFetcher* f = FetcherOf(c);
  return PaddedRow(f, InnerRow(f, row));
}

const uint8_t* FetchWrapped(const ResampleContext* c, int32_t row) {
  const EdgeFetcher* f = FetcherOf(c);
  return InnerRow(f, WrapRowIndex(row, f->sourceHeight));
}

const uint8_t* FetchWrappedPadded(const ResampleContext* c, int32_t row) {
  const EdgeFetcher* f = FetcherOf(c);
  return PaddedRow(f, InnerRow(f, WrapRowIndex(row, f->sourceHeight)));
}

const uint8_t* FetchPinched(const ResampleContext* c, int32_t row) {
  return PinchedRow(FetcherOf(c), row);
}

const uint8_t* FetchPinchedPadded(const ResampleContext* c, int32_t row) {
  const EdgeFetcher* f = FetcherOf(c);
  return PaddedRow(f, PinchedRow(f, row));
}

}  // namespace

SourceRowProc EdgeFetcherForFlags(int32_t flags) {
  switch (flags) {
    case kFetchPad:
      return FetchPadded;
    case kFetchWrapRows:
      return FetchWrapped;
    case kFetchWrapRows | kFetchPad:
      return FetchWrappedPadded;
    case kFetchPinchRows:
      return FetchPinched;
    case kFetchPinchRows | kFetchPad:
      return FetchPinchedPadded;
    default:
      return nullptr;
  }
}

uint8_t* ForwardDestinationRow(const ResampleContext* context, int32_t row) {
  const EdgeFetcher* f = FetcherOf(context);
  return f->inner->destinationRow(f->inner, row);
}

int32_t WrapRowIndex(int32_t row, int32_t height) {
  const int32_t r = row % height;
  return r < 0 ? r + height : r;
}

int32_t PinchRowIndex(int32_t row, int32_t height) {
  const int64_t period = 2 * int64_t(height);
  int64_t rho = row % period;  // takes the sign of row
  if (rho >= height) rho -= period;
  if (rho < -int64_t(height)) rho += period;
  return int32_t(rho);
}

void HalfTurnRow(const uint8_t* in, uint8_t* out, int32_t width, PixelClass cls) {
  assert(in != out);
  const int32_t bytesPerPixel = BytesPerPixelOfClass(cls);
  const int32_t half = width / 2;
  if (width % 2 == 0) {
    for (int32_t k = 0; k < width; ++k) {
      const int32_t from = (k + half) % width;
      std::memcpy(out + int64_t(k) * bytesPerPixel, in + int64_t(from) * bytesPerPixel,
                  size_t(bytesPerPixel));
    }
    return;
  }
  const bool wideSamples = cls == kClassRGB48 || cls == kClassARGB64;
  for (int32_t k = 0; k < width; ++k) {
    const uint8_t* p = in + int64_t((k + half) % width) * bytesPerPixel;
    const uint8_t* q = in + int64_t((k + half + 1) % width) * bytesPerPixel;
    uint8_t* o = out + int64_t(k) * bytesPerPixel;
    if (wideSamples) {
      MeanOfPixels<uint16_t>(p, q, o, bytesPerPixel);
    } else {
      MeanOfPixels<uint8_t>(p, q, o, bytesPerPixel);
    }
  }
}

void PadRowCircular(uint8_t* middle, int32_t width, int32_t marginPixels, int32_t bytesPerPixel) {
  const size_t size = size_t(bytesPerPixel);
  for (int32_t j = 1; j <= marginPixels; ++j) {
    // Left pixel -j and right pixel width - 1 + j.
    const int32_t left = width - 1 - (j - 1) % width;
    const int32_t right = (j - 1) % width;
    std::memcpy(middle - int64_t(j) * bytesPerPixel, middle + int64_t(left) * bytesPerPixel, size);
    std::memcpy(middle + int64_t(width - 1 + j) * bytesPerPixel,
                middle + int64_t(right) * bytesPerPixel, size);
  }
}
