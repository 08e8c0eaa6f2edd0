// Filtering in linear light and with premultiplied alpha. Each source row
// is taken to 16-bit working samples (linear colour, weighted by alpha)
// before the horizontal filter; each destination pixel is made from the
// vertical sums (divided by the filtered alpha, back to stored colour). The
// filtering between is the 16-bit one, so every instruction set gives the
// same bytes.
#pragma once

#include <cstdint>

#include "resample/resample_context.h"
#include "resample/simd_level.h"

// The sRGB curve as tables, built once: 16-bit linear light from stored
// 8-bit (256 entries) and 16-bit samples, and stored 8-bit and 16-bit
// samples from linear light (65536 entries each).
const uint16_t* LinearFrom8();
const uint16_t* LinearFrom16();
const uint8_t* Stored8FromLinear();
const uint16_t* Stored16FromLinear();

// The vertical sum of an opaque alpha: 255 and 65535 both filter to the
// intermediate 16383, and the weights sum to kWeightOne.
constexpr int32_t kOpaqueSum = 16383 * kWeightOne;

// What a resize in this space does: premultiplying needs a source with
// alpha, and neither works on grey.
FilterSpace EffectiveFilterSpace(FilterSpace asked, PixelClass source, PixelClass destination);
bool IsDefaultSpace(FilterSpace space);
// Channels of the intermediate rows in an effective space: premultiplied
// colour carries its alpha through the filter, whatever the destination.
int32_t SpaceChannels(FilterSpace space, PixelClass source, PixelClass destination);

// Bytes of a working row of that many pixels of a source class.
int64_t WorkingRowBytes(PixelClass source, int64_t pixels);

// working may be source itself: rows are widened in place.
using ConvertRowProc = void (*)(const uint16_t* toLinear, const uint8_t* source, int64_t pixels,
                                uint8_t* working);
using FinishProc = void (*)(const SpaceRows& rows, const int32_t* sums, int64_t pixels,
                            uint8_t* destination);

struct SpaceRows {
  int32_t channels = 0;      // 3 or 4
  int32_t sourceBytes = 0;   // a source pixel's
  int32_t workingBytes = 0;  // 6 or 8
  int32_t destinationBytes = 0;
  int64_t marginPixels = 0;       // beside each side of a padded row
  uint8_t* workingRow = nullptr;  // its pixel 0
  ConvertRowProc convert = nullptr;
  HorizontalProc filterWorking = nullptr;
  SumsProc sums = nullptr;
  FinishProc finish = nullptr;
  const uint16_t* toLinear = nullptr;  // 8- or 16-bit stored to linear
  const uint8_t* toStored8 = nullptr;  // linear to the destination's samples
  const uint16_t* toStored16 = nullptr;
};

// Sets rows up for context's classes and space (effective, not the default)
// and has the context's procedures go through them. workingRow has room
// for the source width plus the margins; unused when the source rows come
// converted.
void UseFilterSpace(ResampleContext* context, SpaceRows* rows, uint8_t* workingRow,
                    int64_t marginPixels, SimdLevel level);
