#include "resample/resample_context.h"

#include <algorithm>

PixelClass ClassifyPixelFormat(OSType pixelFormat) {
  switch (pixelFormat) {
    case k32ARGBPixelFormat:
      return kClassARGB32;
    case k8IndexedPixelFormat:
    case k8IndexedGrayPixelFormat:
      return kClassGray8;
    case k48RGBCodecType:
      return kClassRGB48;
    case k64ARGBPixelFormat:
      return kClassARGB64;
    default:
      return kClassNone;
  }
}

int32_t ChannelsOfClass(PixelClass cls) {
  constexpr int32_t kChannels[kPixelClassCount] = {4, 1, 3, 4};
  return cls < kPixelClassCount ? kChannels[cls] : 0;
}

int32_t BytesPerPixelOfClass(PixelClass cls) {
  constexpr int32_t kBytes[kPixelClassCount] = {4, 1, 6, 8};
  return cls < kPixelClassCount ? kBytes[cls] : 0;
}

int32_t IntermediateChannels(PixelClass source, PixelClass destination) {
  return std::min(ChannelsOfClass(source), ChannelsOfClass(destination));
}
