#include "metadata/orientation.h"

#include <string>
#include <string_view>

#include "base/big_endian.h"
#include "base/item_types.h"
#include "metadata/xmp_packet.h"
#include "metadata/xmp_size.h"
#include "platform/graphics_import.h"
#include "platform/handle.h"
#include "platform/user_data.h"

namespace {

constexpr OSType kOrientationItemType = kTiffItemBase + 0x0112;
constexpr OSType kXmpPacketType = FourCC("xmp ");

// Disposes of what it holds on every way out.
struct OwnedUserData {
  UserData ud = nullptr;
  ~OwnedUserData() {
    if (ud != nullptr) DisposeUserData(ud);
  }
};
struct OwnedHandle {
  Handle h = NewHandle(0);
  ~OwnedHandle() {
    if (h != nullptr) DisposeHandle(h);
  }
};

int32_t ExifOrientation(UserData ud) {
  uint8_t bytes[2];
  if (GetUserDataItem(ud, bytes, sizeof bytes, kOrientationItemType, 1) != noErr) return 0;
  const int32_t value = ReadBigEndian16(bytes);
  return value >= 1 && value <= 8 ? value : 0;
}

int32_t XmpPacketOrientation(UserData ud) {
  OwnedHandle packet;
  if (packet.h == nullptr || GetUserData(ud, packet.h, kXmpPacketType, 1) != noErr) return 0;
  return XmpOrientation(std::string_view(*packet.h, GetHandleSize(packet.h)));
}

}  // namespace

int32_t StoredOrientation(GraphicsImportComponent importer) {
  if (GraphicsImportDrawsUpright(importer)) return 1;
  OwnedUserData list;
  if (NewUserData(&list.ud) != noErr) return 1;
  if (GraphicsImportGetMetaData(importer, list.ud) != noErr) return 1;
  if (const int32_t exif = ExifOrientation(list.ud)) return exif;
  if (const int32_t xmp = XmpPacketOrientation(list.ud)) return xmp;
  return 1;
}

void MarkUpright(UserData ud) {
  uint8_t bytes[2];
  if (GetUserDataItem(ud, bytes, sizeof bytes, kOrientationItemType, 1) == noErr) {
    WriteBigEndian16(1, bytes);
    SetUserDataItem(ud, bytes, sizeof bytes, kOrientationItemType, 1);
  }
  ChangeXmpPacket(ud, MarkXmpUpright);
}
