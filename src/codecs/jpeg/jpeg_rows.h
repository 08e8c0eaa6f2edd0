// Decoding a JPEG file into a 32-bit ARGB buffer a band of rows at a time,
// through libjpeg's scan-line interface, so that a reader on another thread
// can filter the top of the image while the rest decodes. The settings are
// TurboJPEG's defaults (accurate integer DCT, smooth upsampling), so the
// pixels are the ones its whole-image decode gives.
#pragma once

#include "platform/codec.h"

// Progressive files with more scans than this are refused (a known way to
// make a tiny file cost minutes of decoding).
constexpr int kJpegMaxScans = 500;

// Decodes file into dst, whose size is the image's, as opaque native ARGB.
// CMYK and YCCK become RGB; invertedCmyk says the file stores 255 for no
// ink (Adobe's writers and libjpeg's). Data that ends before the last row
// or the last scan answers codecErr; data that lacks only its end-of-image
// marker is whole. Other damage the library only warns about leaves the
// image as far as it decodes. Rows are published to dst as they are final.
// With cmykMatch, CMYK goes to RGB through the file's profile.
OSErr DecodeJpegRows(ByteSpan file, bool cmyk, bool invertedCmyk, const ColourMatch* cmykMatch,
                     RowBand* dst);
// The same, reading the open file fd of size bytes as it goes.
OSErr DecodeJpegRowsFromFile(int fd, uint64_t size, bool cmyk, bool invertedCmyk,
                             const ColourMatch* cmykMatch, RowBand* dst);
