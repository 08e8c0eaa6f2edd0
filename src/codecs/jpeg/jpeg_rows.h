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

// How the samples are decoded. CMYK and YCCK become RGB; invertedCmyk says
// the file stores 255 for no ink (Adobe's writers and libjpeg's). With
// cmykMatch, CMYK goes to RGB through the file's profile. scale (1, 2, 4
// or 8) decodes at 1/scale of the image's size through libjpeg's scaled
// inverse DCT, each side rounded up. With threads above 1, a file with
// restart markers may be decoded in bands on two threads
// (codecs/jpeg/jpeg_bands.h): the same pixels, warnings and failures.
struct JpegDecodeOptions {
  bool cmyk = false;
  bool invertedCmyk = false;
  const ColourMatch* cmykMatch = nullptr;
  int32_t scale = 1;
  int32_t threads = 1;
};

// Decodes file into dst, whose size is the decoded one, as opaque native
// ARGB. Data that ends before the last row or the last scan answers
// codecErr; data that lacks only its end-of-image marker is whole. Other
// damage the library only warns about leaves the image as far as it
// decodes. Rows are published to dst as they are final.
OSErr DecodeJpegRows(ByteSpan file, const JpegDecodeOptions& options, RowBand* dst);
// The same, reading the open file fd of size bytes as it goes.
OSErr DecodeJpegRowsFromFile(int fd, uint64_t size, const JpegDecodeOptions& options, RowBand* dst);
