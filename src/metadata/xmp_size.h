// The image size an XMP packet states, fitted to the output as the EXIF
// PixelXDimension and PixelYDimension items are.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/output_geometry.h"

// The packet with the values of exif:PixelXDimension, tiff:ImageWidth
// (width) and exif:PixelYDimension, tiff:ImageLength (height) replaced, as
// attributes or as elements, under whatever prefixes the packet binds to
// those namespaces. The rest of the packet is kept byte for byte, so that a
// packet no parser takes is still fitted.
std::string RefitXmpImageSize(std::string_view packet, int32_t width, int32_t height);
// The value of tiff:Orientation (1 to 8), or 0 when the packet states none
// that is valid.
int32_t XmpOrientation(std::string_view packet);
// The packet with every tiff:Orientation value replaced by 1 (upright).
std::string MarkXmpUpright(std::string_view packet);

// The packet with a panorama's pixel fields (GPano: the full panorama's
// size, the cropped area's size and offset) fitted to the picture: the
// cropped area is the source, resized as the geometry's full resize, of
// which the window is kept, then turned clockwise. Fields the packet does
// not state stay unstated.
std::string RefitXmpPanorama(std::string_view packet, const OutputGeometry& geometry);

// The packet with the length its container directory states for the gain
// map (the Item:Length of the item whose Item:Semantic is GainMap) replaced.
std::string RefitXmpGainMapLength(std::string_view packet, uint64_t length);
// The packet without what says a gain map follows the picture: the hdrgm
// version and the container directory's GainMap entry. A gain map's own
// packet (one stating hdrgm:GainMapMax) is kept.
std::string UnlistXmpGainMap(std::string_view packet);
// The packet without the position it states: every GPS property of the
// EXIF namespace (exif:GPSLatitude, exif:GPSAltitude, ...) and of the IPTC
// Extension's location structures, as attributes or as elements, under
// whatever prefixes the packet binds to them. Place names
// (photoshop:City, Iptc4xmpExt:City, ...) stay.
std::string WithoutXmpGps(std::string_view packet);
// The packet without who made the picture and who holds its rights: the
// Dublin Core dc:creator and dc:rights properties, as attributes or as
// elements, under whatever prefixes the packet binds to that namespace.
std::string WithoutXmpCopyright(std::string_view packet);
