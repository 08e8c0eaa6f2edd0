// The resources of a Photoshop image resources block that the copy changes:
// its thumbnails (a copy of the picture as it was, which may show what a
// crop took away) and its copy of the XMP packet.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/user_data.h"

// Resources are read while they hold together; what follows one that does
// not is kept as it is. Every resource not changed keeps its bytes.

// The block without its thumbnail resources (IDs 1033 and 1036).
std::vector<uint8_t> WithoutPhotoshopThumbnails(std::span<const uint8_t> block);
// The block with its XMP resource (ID 1060) changed.
std::vector<uint8_t> WithPhotoshopXmpChanged(
    std::span<const uint8_t> block, const std::function<std::string(std::string_view)>& change);

// Changes the list's Photoshop blocks: the JPEG source's and a TIFF
// source's (its ImageResources item).
void ChangePhotoshopBlocks(
    UserData ud, const std::function<std::vector<uint8_t>(std::span<const uint8_t>)>& change);
