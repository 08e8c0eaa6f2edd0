#include "metadata/orientation.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

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

// Whatever integer type the field was stored as (a LONG, say).
int32_t ExifOrientation(UserData ud) {
  OwnedHandle item;
  if (item.h == nullptr || GetUserData(ud, item.h, kOrientationItemType, 1) != noErr) return 0;
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(*item.h),
                                       size_t(GetHandleSize(item.h)));
  const std::optional<int64_t> value =
      FirstIntegerOfItem(bytes, GetUserDataItemTiffType(ud, kOrientationItemType, 1));
  return value && *value >= 1 && *value <= 8 ? int32_t(*value) : 0;
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
  // A SHORT, whatever the source's field was.
  constexpr uint8_t kUpright[2] = {0, 1};
  constexpr uint16_t kShortField = 3;
  if (CountUserDataType(ud, kOrientationItemType) > 0 &&
      SetUserDataItem(ud, kUpright, sizeof kUpright, kOrientationItemType, 1) == noErr) {
    SetUserDataItemTiffType(ud, kOrientationItemType, 1, kShortField);
  }
  ChangeXmpPacket(ud, MarkXmpUpright);
}
