// Reading and adding items as byte vectors, over the list's handle-based
// operations.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/user_data.h"

using ItemBytes = std::vector<uint8_t>;

// The value of item index of type (for a text item, its region-0 text), or
// nothing when there is none or memory runs out.
std::optional<ItemBytes> ReadItem(UserData ud, OSType type, int32_t index);
// Appends a new item of type holding bytes, with the given field type.
void AppendItem(UserData ud, OSType type, std::span<const uint8_t> bytes, uint16_t tiffType);
// Appends a new text item (region 0) holding text without trailing zeros.
void AppendTextItem(UserData ud, OSType type, std::span<const uint8_t> text, uint16_t tiffType);
