#include "platform/image_description.h"

#include "base/big_endian.h"

namespace {

// The description's layout: width and height (4 bytes each), then each
// extension as its size (4 bytes, header included), its type (4 bytes) and
// its data; all numbers big-endian.
constexpr size_t kDescriptionHeaderSize = 8;
constexpr size_t kExtensionHeaderSize = 8;

}  // namespace

OSErr NewImageDescription(const ImageHeader& header, ImageDescriptionHandle* desc) {
  bool hasFormat = header.preferredPixelFormat != 0;
  size_t size = kDescriptionHeaderSize + (hasFormat ? kExtensionHeaderSize + 4 : 0);
  Handle h = NewHandle(size);
  if (h == nullptr) return memFullErr;
  auto* out = reinterpret_cast<uint8_t*>(*h);
  WriteBigEndian32(uint32_t(header.width), out);
  WriteBigEndian32(uint32_t(header.height), out + 4);
  if (hasFormat) {
    WriteBigEndian32(uint32_t(kExtensionHeaderSize + 4), out + 8);
    WriteBigEndian32(kColorSpaceExtension, out + 12);
    WriteBigEndian32(header.preferredPixelFormat, out + 16);
  }
  *desc = h;
  return noErr;
}

OSErr GetImageDescriptionExtension(ImageDescriptionHandle desc, Handle* extension, OSType type,
                                   int32_t index) {
  if (extension == nullptr) return paramErr;
  *extension = nullptr;
  if (desc == nullptr || index < 1) return paramErr;
  size_t size = GetHandleSize(desc);
  if (size < kDescriptionHeaderSize) return paramErr;
  const auto* bytes = reinterpret_cast<const uint8_t*>(*desc);
  int32_t seen = 0;
  for (size_t at = kDescriptionHeaderSize; size - at >= kExtensionHeaderSize;) {
    size_t length = ReadBigEndian32(bytes + at);
    if (length < kExtensionHeaderSize || length > size - at) return paramErr;
    if (ReadBigEndian32(bytes + at + 4) == type && ++seen == index) {
      Handle h = NewHandle(0);
      if (h == nullptr) return memFullErr;
      if (OSErr err =
              PtrToXHand(bytes + at + kExtensionHeaderSize, h, length - kExtensionHeaderSize)) {
        DisposeHandle(h);
        return err;
      }
      *extension = h;
      return noErr;
    }
    at += length;
  }
  return codecExtensionNotFoundErr;
}
