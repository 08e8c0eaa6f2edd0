// A file's metadata as the items of a metadata list, read from the file and
// written back into an encoded file through exiv2.
//
// Items: EXIF IFD fields are type 0x65780000 + tag, GPS fields 0x67700000 +
// tag, IFD0 fields 0x74690000 + tag, interoperability IFD fields 0x696F0000 +
// tag; each holds the field's bytes, numbers big-endian, and remembers its
// field type (SetUserDataItemTiffType). The ASCII fields ImageDescription,
// Make, Model, Software, DateTime, Artist, HostComputer and Copyright of IFD0
// become text items instead ("©des", "©mak", ...), so that each field is one
// item and the copy's software text replaces the source's. A JPEG comment is "©cmt", PNG text
// chunks map by keyword, the XMP packet is "xmp ", the ICC profile "iccp", the IPTC records "iptc",
// a JPEG's JFIF density "jfif", and a PNG's pHYs, gAMA, cHRM, sRGB and sBIT chunks items of their
// chunk's name (item_types.h).
//
// Neither function throws, prints or fails on damaged metadata: what can be
// read is taken, the rest is left out. Declared for the platform's import
// and export; the codecs' metadata readers and writers define them.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/codec.h"

// Adds the items of the file's metadata to ud. A file exiv2 does not know,
// or whose metadata cannot be read, adds nothing and is no error.
OSErr ReadFileMetaData(ByteSpan file, UserData ud);

// Puts ud's items into the encoded file, each where it came from: the EXIF,
// GPS and IFD0 items (and the IFD0 text items) only when exifEnabled. Items
// the format cannot hold, or that the library refuses, are left out, each
// costing only itself; an XMP packet goes in as it came, parsable or not.
// The format's record says how (MetadataWriting): a file whose encoder
// stores the metadata itself (HEIF, JPEG XL), and a BigTIFF file (which
// exiv2 cannot write), are left as they are. An error means the file
// could not be rewritten at all (not an image, out of memory); encoded is
// then unchanged.
OSErr WriteFileMetaData(const ImageFormat& format, std::vector<uint8_t>* encoded, UserData ud,
                        bool exifEnabled);
