// Which IFD0 fields a TIFF file written by exiv2 may take: libtiff types the
// tags it knows itself, and a file holding one of them with another type
// (a MinSampleValue stored as RATIONAL, say) cannot be read back.
#pragma once

#include <cstdint>

// Whether libtiff defines no field for tag, or defines one of this type.
bool LibtiffTakesField(uint16_t tag, uint16_t tiffType);
