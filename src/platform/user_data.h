// Metadata lists: items grouped by type, types kept in the order in which
// they were first added, items numbered from 1 within their type. Text items
// (types whose first byte is 0xA9) hold one text per region code. The raw
// operations (GetUserData, GetUserDataItem) read an item's first text; the
// raw writes (AddUserData, SetUserDataItem) make the item one value, region 0.
// An index that names no item (or, where appending is allowed, is not
// count + 1) answers userDataItemNotFound.
#pragma once

#include <cstddef>
#include <span>

#include "base/mac_types.h"
#include "platform/handle.h"

struct UserDataRecord;
using UserData = UserDataRecord*;

constexpr OSErr userDataItemNotFound = -2026;

OSErr NewUserData(UserData* ud);
OSErr DisposeUserData(UserData ud);
// A new list holding everything ud holds; memFullErr without the memory.
OSErr CopyUserData(UserData ud, UserData* copy);
// The type after previous (0 for the first); 0 at the end.
OSType GetNextUserDataType(UserData ud, OSType previous);
int16_t CountUserDataType(UserData ud, OSType type);
// Copies item index of type into the handle (resized to fit).
OSErr GetUserData(UserData ud, Handle data, OSType type, int32_t index);
// Appends the handle's bytes as a new item of type.
OSErr AddUserData(UserData ud, Handle data, OSType type);
OSErr RemoveUserData(UserData ud, OSType type, int32_t index);
// Copies item index of type into data. The item must hold exactly size
// bytes; any other size answers paramErr and copies nothing.
OSErr GetUserDataItem(UserData ud, void* data, int32_t size, OSType type, int32_t index);
// Replaces item index of type (index count + 1 appends a new item).
OSErr SetUserDataItem(UserData ud, const void* data, int32_t size, OSType type, int32_t index);
// Sets the text of region code region in item index of type: replaces the
// text of that region if the item has one, adds it otherwise, and appends a
// new item when index is count + 1.
OSErr AddUserDataText(UserData ud, Handle data, OSType type, int32_t index, int16_t region);
OSErr GetUserDataText(UserData ud, Handle data, OSType type, int32_t index, int16_t region);

// The field type (TIFF numbering: 1 BYTE ... 12 DOUBLE) with which an item
// was stored in its source file, so that writing the item back keeps it; 0
// when the item came from no TIFF field. A text item read from an IFD0 text
// field has type 2 (ASCII). Replacing an item's value (AddUserData,
// SetUserDataItem) sets its type back to 0; AddUserDataText keeps it.
OSErr SetUserDataItemTiffType(UserData ud, OSType type, int32_t index, uint16_t tiffType);
// The item's field type, or 0 when it has none or there is no such item.
uint16_t GetUserDataItemTiffType(UserData ud, OSType type, int32_t index);

// The source's Exif block (its TIFF structure) as it was laid out, kept
// beside the items rather than as one: writers start from it and change in
// place only what the items change, so that data whose offsets count from
// the block's start (many maker notes) stays where it points. Empty when
// the source had none.
OSErr SetUserDataSourceExif(UserData ud, std::span<const uint8_t> tiff);
std::span<const uint8_t> GetUserDataSourceExif(UserData ud);
// The source's Photoshop image resources block, kept whole beside the items
// in the same way (its IPTC records are an item of their own as well).
OSErr SetUserDataSourcePhotoshop(UserData ud, std::span<const uint8_t> block);
std::span<const uint8_t> GetUserDataSourcePhotoshop(UserData ud);
// A gain map that goes with the image (how far to brighten each part of it
// for an HDR display), kept beside the items as its own JPEG file with the
// primary image's ISO 21496-1 version segment (empty when the source had
// none): the job fits the map to the output, the JPEG writer appends it.
OSErr SetUserDataGainMap(UserData ud, std::span<const uint8_t> jpeg,
                         std::span<const uint8_t> isoVersion);
std::span<const uint8_t> GetUserDataGainMap(UserData ud);
std::span<const uint8_t> GetUserDataGainMapIsoVersion(UserData ud);

// How the item was stored in its source, in the terms of the codec that read
// it (a PNG text item: which chunk, its language and translated keyword), so
// that the same codec can store it the same way; not part of the value and
// not shown with it. Replacing the value (AddUserData, SetUserDataItem)
// clears it; AddUserDataText keeps it.
OSErr SetUserDataItemForm(UserData ud, OSType type, int32_t index, std::span<const uint8_t> form);
std::span<const uint8_t> GetUserDataItemForm(UserData ud, OSType type, int32_t index);
