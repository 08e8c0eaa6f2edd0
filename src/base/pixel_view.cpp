#include "base/pixel_view.h"

int16_t PixelSizeOfFormat(OSType pixelFormat) {
  switch (pixelFormat) {
    case k32ARGBPixelFormat:
      return 32;
    case k48RGBCodecType:
      return 48;
    case k64ARGBPixelFormat:
      return 64;
    case k8IndexedPixelFormat:
    case k8IndexedGrayPixelFormat:
      return 8;
    default:
      return 0;
  }
}
