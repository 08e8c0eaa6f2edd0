// The Exif block of an encoded JPEG file as an APP1 segment of its own.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// Inserts an "Exif" APP1 segment holding the TIFF structure tiff after the
// start of image and any APP0 (JFIF) segments. False, and the file
// unchanged, when the block does not fit one segment or the file does not
// begin as a JPEG file.
bool PutJpegExifSegment(std::span<const uint8_t> tiff, std::vector<uint8_t>* jpeg);
