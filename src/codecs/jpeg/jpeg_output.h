// How the JPEG decoders lay out their rows: what libjpeg is asked for, and
// the finishing of a CMYK row. The serial decode and the decodes on two
// threads share them, so that their pixels cannot drift apart.
#pragma once

#include <cstdint>
#include <cstdio>  // jpeglib.h expects it

#include <jpeglib.h>

#include "codecs/jpeg/jpeg_rows.h"

// How a decode split over two threads ended (codecs/jpeg/jpeg_bands.h,
// codecs/jpeg/jpeg_entropy_stage.h).
enum class JpegSplitOutcome {
  kDecoded,   // every row handed on
  kNotTaken,  // decode serially; some rows may have been handed on
  kStopped,   // the reader stopped dst
};

// Rows asked of libjpeg at a time: its own band for 4:2:0 is 16.
constexpr int kJpegReadRows = 16;

// The output colour space and scale, after jpeg_read_header.
void SetJpegOutput(j_decompress_ptr info, const JpegDecodeOptions& options);

// A decoded CMYK row of width pixels to opaque native ARGB, in place, as
// options say; rgb holds a row of R, G, B for the profile's match. Rows
// of other images are left as they are.
void FinishJpegRow(const JpegDecodeOptions& options, uint8_t* row, int64_t width, uint8_t* rgb);
