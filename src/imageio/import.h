// Reading image files into pixel buffers.
#pragma once

#include <cstdint>
#include <string>

#include "platform/fsspec.h"
#include "platform/gworld.h"
#include "platform/user_data.h"

OSErr PathToFSSpec(const std::string& path, FSSpec* spec);
// The image's natural bounds (top-left at 0, 0).
int32_t ProbeNaturalBounds(const std::string& path, Rect* bounds);
// Draws the whole image into a new buffer in the format the image prefers
// (32-bit ARGB, "b48r" or "b64a"), falling back silently to 32-bit ARGB; adds
// the file's metadata to ud when given. On failure *source is nullptr.
int32_t ImportImage(const std::string& path, GWorldPtr* source, UserData ud);
// Swaps the two bytes of every 16-bit sample within the buffer's bounds.
void SwapSampleBytes(GWorldPtr gw);
