// The orientation in which an importer's picture is stored, for "//upright".
#pragma once

#include <cstdint>

#include "platform/components.h"
#include "platform/user_data.h"

// The EXIF orientation (1 to 8) of the picture as the importer draws it:
// the file's IFD0 orientation, else its XMP tiff:Orientation, else 1; also
// 1 when the importer draws the picture upright itself.
int32_t StoredOrientation(GraphicsImportComponent importer);
// The copied metadata says the picture is upright: the orientation item and
// the XMP packet's tiff:Orientation, where they exist, become 1.
void MarkUpright(UserData ud);
