#include "platform/user_data.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace {

// One text of a text item, or the single value of any other item (region 0).
struct Entry {
  int16_t region = 0;
  std::vector<uint8_t> bytes;
};

struct Item {
  std::vector<Entry> entries;  // never empty
  uint16_t tiffType = 0;       // the source field's type; 0 for none
  std::vector<uint8_t> form;   // how the source stored it, in its codec's terms
};

struct TypeList {
  OSType type = 0;
  std::vector<Item> items;  // kept when emptied, so the type keeps its place
};

std::vector<uint8_t> Bytes(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  return size > 0 ? std::vector<uint8_t>(p, p + size) : std::vector<uint8_t>{};
}

std::vector<uint8_t> HandleBytes(Handle h) {
  return Bytes(h ? *h : nullptr, GetHandleSize(h));
}

}  // namespace

struct UserDataRecord {
  std::vector<TypeList> types;  // in the order in which each type was first added
  std::vector<uint8_t> sourceExif;
  std::vector<uint8_t> sourcePhotoshop;
  std::vector<uint8_t> gainMap;
  std::vector<uint8_t> gainMapIsoVersion;
};

namespace {

// Replaces *to with bytes, which may lie in *to itself; *to is left empty
// when memory runs out.
OSErr KeepBytes(std::vector<uint8_t>* to, std::span<const uint8_t> bytes) {
  try {
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    *to = std::move(copy);
  } catch (const std::bad_alloc&) {
    to->clear();
    return memFullErr;
  }
  return noErr;
}

TypeList* FindType(UserData ud, OSType type) {
  auto it = std::find_if(ud->types.begin(), ud->types.end(),
                         [type](const TypeList& t) { return t.type == type; });
  return it == ud->types.end() ? nullptr : &*it;
}

TypeList& FindOrAddType(UserData ud, OSType type) {
  if (TypeList* found = FindType(ud, type)) return *found;
  ud->types.push_back(TypeList{type, {}});
  return ud->types.back();
}

// The item at index (from 1), or nullptr.
Item* FindItem(UserData ud, OSType type, int32_t index) {
  TypeList* list = FindType(ud, type);
  if (list == nullptr || index < 1 || size_t(index) > list->items.size()) return nullptr;
  return &list->items[size_t(index) - 1];
}

size_t ItemCount(UserData ud, OSType type) {
  const TypeList* list = FindType(ud, type);
  return list ? list->items.size() : 0;
}

// Stores one value into item index (1 ... count + 1) of type: a region's text
// is replaced or added, or, with wholeItem, the item becomes that value alone.
OSErr StoreEntry(UserData ud, OSType type, int32_t index, int16_t region,
                 std::vector<uint8_t> bytes, bool wholeItem) {
  if (index < 1 || size_t(index) > ItemCount(ud, type) + 1) return userDataItemNotFound;
  TypeList& list = FindOrAddType(ud, type);
  Entry entry{region, std::move(bytes)};
  if (size_t(index) == list.items.size() + 1) {
    list.items.push_back(Item{{std::move(entry)}, 0, {}});
    return noErr;
  }
  Item& item = list.items[size_t(index) - 1];
  if (wholeItem) {
    item.entries.assign(1, std::move(entry));
    item.tiffType = 0;  // a new value no longer has its source's field type
    item.form.clear();
    return noErr;
  }
  auto same = std::find_if(item.entries.begin(), item.entries.end(),
                           [region](const Entry& e) { return e.region == region; });
  if (same != item.entries.end()) {
    *same = std::move(entry);
  } else {
    item.entries.push_back(std::move(entry));
  }
  return noErr;
}

}  // namespace

// Vectors throw when memory runs out; no exception leaves these functions.

OSErr NewUserData(UserData* ud) {
  if (ud == nullptr) return paramErr;
  *ud = new (std::nothrow) UserDataRecord;
  return *ud ? noErr : memFullErr;
}

OSErr DisposeUserData(UserData ud) {
  if (ud == nullptr) return paramErr;
  delete ud;
  return noErr;
}

OSErr CopyUserData(UserData ud, UserData* copy) {
  if (ud == nullptr || copy == nullptr) return paramErr;
  *copy = new (std::nothrow) UserDataRecord;
  if (*copy == nullptr) return memFullErr;
  try {
    **copy = *ud;
  } catch (const std::bad_alloc&) {
    delete *copy;
    *copy = nullptr;
    return memFullErr;
  }
  return noErr;
}

OSType GetNextUserDataType(UserData ud, OSType previous) {
  if (ud == nullptr) return 0;
  auto it = ud->types.begin();
  if (previous != 0) {
    it = std::find_if(ud->types.begin(), ud->types.end(),
                      [previous](const TypeList& t) { return t.type == previous; });
    if (it == ud->types.end()) return 0;
    ++it;
  }
  for (; it != ud->types.end(); ++it) {
    if (!it->items.empty()) return it->type;
  }
  return 0;
}

int16_t CountUserDataType(UserData ud, OSType type) {
  if (ud == nullptr) return 0;
  return int16_t(std::min<size_t>(ItemCount(ud, type), INT16_MAX));
}

OSErr GetUserData(UserData ud, Handle data, OSType type, int32_t index) {
  if (ud == nullptr || data == nullptr) return paramErr;
  const Item* item = FindItem(ud, type, index);
  if (item == nullptr) return userDataItemNotFound;
  const std::vector<uint8_t>& bytes = item->entries.front().bytes;
  return PtrToXHand(bytes.data(), data, bytes.size());
}

OSErr AddUserData(UserData ud, Handle data, OSType type) {
  if (ud == nullptr || data == nullptr) return paramErr;
  try {
    return StoreEntry(ud, type, int32_t(std::min<size_t>(ItemCount(ud, type) + 1, INT32_MAX)), 0,
                      HandleBytes(data), true);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
}

OSErr RemoveUserData(UserData ud, OSType type, int32_t index) {
  if (ud == nullptr) return paramErr;
  if (FindItem(ud, type, index) == nullptr) return userDataItemNotFound;
  std::vector<Item>& items = FindType(ud, type)->items;
  items.erase(items.begin() + (index - 1));
  return noErr;
}

OSErr GetUserDataItem(UserData ud, void* data, int32_t size, OSType type, int32_t index) {
  if (ud == nullptr || size < 0 || (data == nullptr && size > 0)) return paramErr;
  const Item* item = FindItem(ud, type, index);
  if (item == nullptr) return userDataItemNotFound;
  const std::vector<uint8_t>& bytes = item->entries.front().bytes;
  if (bytes.size() != size_t(size)) return paramErr;
  if (size > 0) std::memcpy(data, bytes.data(), bytes.size());
  return noErr;
}

OSErr SetUserDataItem(UserData ud, const void* data, int32_t size, OSType type, int32_t index) {
  if (ud == nullptr || size < 0 || (data == nullptr && size > 0)) return paramErr;
  try {
    return StoreEntry(ud, type, index, 0, Bytes(data, size_t(size)), true);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
}

OSErr AddUserDataText(UserData ud, Handle data, OSType type, int32_t index, int16_t region) {
  if (ud == nullptr || data == nullptr) return paramErr;
  try {
    return StoreEntry(ud, type, index, region, HandleBytes(data), false);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
}

OSErr GetUserDataText(UserData ud, Handle data, OSType type, int32_t index, int16_t region) {
  if (ud == nullptr || data == nullptr) return paramErr;
  const Item* item = FindItem(ud, type, index);
  if (item == nullptr) return userDataItemNotFound;
  auto entry = std::find_if(item->entries.begin(), item->entries.end(),
                            [region](const Entry& e) { return e.region == region; });
  if (entry == item->entries.end()) return userDataItemNotFound;
  return PtrToXHand(entry->bytes.data(), data, entry->bytes.size());
}

OSErr SetUserDataItemTiffType(UserData ud, OSType type, int32_t index, uint16_t tiffType) {
  if (ud == nullptr) return paramErr;
  Item* item = FindItem(ud, type, index);
  if (item == nullptr) return userDataItemNotFound;
  item->tiffType = tiffType;
  return noErr;
}

uint16_t GetUserDataItemTiffType(UserData ud, OSType type, int32_t index) {
  if (ud == nullptr) return 0;
  const Item* item = FindItem(ud, type, index);
  return item ? item->tiffType : 0;
}

OSErr SetUserDataSourceExif(UserData ud, std::span<const uint8_t> tiff) {
  if (ud == nullptr) return paramErr;
  return KeepBytes(&ud->sourceExif, tiff);
}

std::span<const uint8_t> GetUserDataSourceExif(UserData ud) {
  if (ud == nullptr) return {};
  return ud->sourceExif;
}

OSErr SetUserDataItemForm(UserData ud, OSType type, int32_t index, std::span<const uint8_t> form) {
  if (ud == nullptr) return paramErr;
  Item* item = FindItem(ud, type, index);
  if (item == nullptr) return userDataItemNotFound;
  try {
    item->form.assign(form.begin(), form.end());
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  return noErr;
}

std::span<const uint8_t> GetUserDataItemForm(UserData ud, OSType type, int32_t index) {
  if (ud == nullptr) return {};
  const Item* item = FindItem(ud, type, index);
  return item ? std::span<const uint8_t>(item->form) : std::span<const uint8_t>();
}

OSErr SetUserDataSourcePhotoshop(UserData ud, std::span<const uint8_t> block) {
  if (ud == nullptr) return paramErr;
  return KeepBytes(&ud->sourcePhotoshop, block);
}

std::span<const uint8_t> GetUserDataSourcePhotoshop(UserData ud) {
  if (ud == nullptr) return {};
  return ud->sourcePhotoshop;
}

OSErr SetUserDataGainMap(UserData ud, std::span<const uint8_t> jpeg,
                         std::span<const uint8_t> isoVersion) {
  if (ud == nullptr) return paramErr;
  if (OSErr err = KeepBytes(&ud->gainMap, jpeg)) {
    ud->gainMapIsoVersion.clear();
    return err;
  }
  if (OSErr err = KeepBytes(&ud->gainMapIsoVersion, isoVersion)) {
    ud->gainMap.clear();
    return err;
  }
  return noErr;
}

std::span<const uint8_t> GetUserDataGainMap(UserData ud) {
  if (ud == nullptr) return {};
  return ud->gainMap;
}

std::span<const uint8_t> GetUserDataGainMapIsoVersion(UserData ud) {
  if (ud == nullptr) return {};
  return ud->gainMapIsoVersion;
}
