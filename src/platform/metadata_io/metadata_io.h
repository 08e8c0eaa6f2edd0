// A file's metadata as the items of a metadata list, read from the file and
// written back into an encoded file through exiv2.
//
// Items: EXIF IFD fields are type 0x65780000 + tag, GPS fields 0x67700000 +
// tag, IFD0 fields 0x74690000 + tag; each holds the field's bytes, numbers
// big-endian, and remembers its field type (SetUserDataItemTiffType). The
// ASCII fields ImageDescription, Make, Model, Software, DateTime, Artist,
// HostComputer and Copyright of IFD0 become text items instead ("©des",
// "©mak", ...), so that each field is one item and the copy's software text
// replaces the source's. A JPEG comment is "©cmt", PNG text chunks map by
// keyword, the XMP packet is "xmp " and the ICC profile "iccp".
//
// Neither function throws, prints or fails on damaged metadata: what can be
// read is taken, the rest is left out.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/codec.h"

// Sets exiv2 up for the process (XMP parser, no log output, BMFF files);
// called by the start of the imaging services, harmless when repeated.
void InitMetaDataLibrary();

// Adds the items of the file's metadata to ud. A file exiv2 does not know,
// or whose metadata cannot be read, adds nothing and is no error.
OSErr ReadFileMetaData(ByteSpan file, UserData ud);

// Puts ud's items into the encoded file, each where it came from: the EXIF,
// GPS and IFD0 items (and the IFD0 text items) only when exifEnabled. Items
// the format cannot hold are left out. On failure encoded is unchanged.
OSErr WriteFileMetaData(std::vector<uint8_t>* encoded, UserData ud, bool exifEnabled);

// The EXIF, GPS and IFD0 items (the IFD0 text items included) as an Exif
// block: a little-endian TIFF structure, empty when there are none or it
// cannot be made. For a codec that stores the block itself, such as libheif
// (heif_context_add_exif_metadata), whose files exiv2 cannot write.
std::vector<uint8_t> ExifBlockOfItems(UserData ud);
