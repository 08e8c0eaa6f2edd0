// Image descriptions as the importers hand them out, built from a header.
#pragma once

#include "platform/codec.h"
#include "platform/graphics_import.h"

// A new description of the header's size and preferred pixel format.
OSErr NewImageDescription(const ImageHeader& header, ImageDescriptionHandle* desc);
