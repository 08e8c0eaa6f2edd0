// The density in a JPEG file's JFIF header, read into its own item and
// written back into the JFIF header of an encoded JPEG file.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/codec.h"

// Adds the "jfif" item when file is a JPEG file whose JFIF header states a
// density other than the default (no unit, 1:1).
void AddJfifDensityItem(ByteSpan file, UserData ud);
// Writes the item's density into the JFIF header of jpeg, unless an IFD0
// resolution item says otherwise (the EXIF resolution travels instead). A
// file without a JFIF header is left as it is.
void PutJfifDensityItem(UserData ud, std::vector<uint8_t>* jpeg);
