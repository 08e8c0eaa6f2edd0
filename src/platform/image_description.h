// Image descriptions as the importers hand them out, built from a header.
#pragma once

#include "platform/codec.h"
#include "platform/handle.h"

// A description handle holds the image's size and its extensions; only the
// extension "cspc" (the preferred pixel format, 4 bytes, big-endian) exists.
using ImageDescriptionHandle = Handle;

constexpr OSType kColorSpaceExtension = FourCC("cspc");
// The description holds no extension of the type and index asked for.
constexpr OSErr codecExtensionNotFoundErr = -8971;

OSErr GetImageDescriptionExtension(ImageDescriptionHandle desc, Handle* extension, OSType type,
                                   int32_t index);

// A new description of the header's size and preferred pixel format.
OSErr NewImageDescription(const ImageHeader& header, ImageDescriptionHandle* desc);
