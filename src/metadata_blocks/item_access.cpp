#include "metadata_blocks/item_access.h"

#include <limits>

#include "base/item_types.h"
#include "platform/handle.h"

namespace {

struct HandleOwner {
  Handle handle = NewHandle(0);
  ~HandleOwner() {
    if (handle != nullptr) DisposeHandle(handle);
  }
};

bool FitsAnItem(size_t size) {
  return size <= size_t(std::numeric_limits<int32_t>::max());
}

}  // namespace

std::optional<ItemBytes> ReadItem(UserData ud, OSType type, int32_t index) {
  HandleOwner owner;
  if (owner.handle == nullptr) return std::nullopt;
  OSErr err = IsTextItemType(type) ? GetUserDataText(ud, owner.handle, type, index, 0)
                                   : GetUserData(ud, owner.handle, type, index);
  if (err != noErr) return std::nullopt;
  const auto* data = reinterpret_cast<const uint8_t*>(*owner.handle);
  return ItemBytes(data, data + GetHandleSize(owner.handle));
}

void AppendItem(UserData ud, OSType type, std::span<const uint8_t> bytes, uint16_t tiffType) {
  if (!FitsAnItem(bytes.size())) return;
  const int32_t index = int32_t(CountUserDataType(ud, type)) + 1;
  if (SetUserDataItem(ud, bytes.data(), int32_t(bytes.size()), type, index) != noErr) return;
  SetUserDataItemTiffType(ud, type, index, tiffType);
}

void AppendTextItem(UserData ud, OSType type, std::span<const uint8_t> text, uint16_t tiffType) {
  while (!text.empty() && text.back() == 0) text = text.first(text.size() - 1);
  if (!FitsAnItem(text.size())) return;
  HandleOwner owner;
  if (owner.handle == nullptr || PtrToXHand(text.data(), owner.handle, text.size()) != noErr) {
    return;
  }
  const int32_t index = int32_t(CountUserDataType(ud, type)) + 1;
  if (AddUserDataText(ud, owner.handle, type, index, 0) != noErr) return;
  SetUserDataItemTiffType(ud, type, index, tiffType);
}
