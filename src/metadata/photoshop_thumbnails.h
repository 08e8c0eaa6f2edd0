// A Photoshop image resources block without its thumbnails: a copy of the
// picture as it was, which a resized, cropped or turned output would
// contradict and which may show what a crop took away.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/user_data.h"

// The block without its thumbnail resources (IDs 1033 and 1036), every
// other resource kept byte for byte. Resources are read while they hold
// together; what follows one that does not is kept as it is.
std::vector<uint8_t> WithoutPhotoshopThumbnails(std::span<const uint8_t> block);

// Takes the thumbnails out of the list's Photoshop blocks: the JPEG source's
// and a TIFF source's (its ImageResources item).
void LeaveOutPhotoshopThumbnails(UserData ud);
