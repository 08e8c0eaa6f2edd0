// A baseline JPEG without restart markers decoded on two threads, pixel for
// pixel as libjpeg-turbo's serial decode gives it.
//
// Entropy decoding is serial, but it is only the first of libjpeg's steps.
// Here it runs on a thread of its own, ahead of the others: our own
// Huffman decoder (codecs/jpeg/jpeg_entropy.h) reads the scan and fills a
// small ring of coefficient blocks (a few hundred kilobytes, whatever the
// image's size), while libjpeg-turbo on the drawing thread does everything
// else (dequantisation, inverse DCT, upsampling, colour conversion) from
// those blocks. libjpeg reads the header and sets up the scan as always;
// then its entropy decoder (the `entropy` member of the decompress object)
// is replaced by one whose decode_mcu hands over the next MCU's blocks from
// the ring. Its one-pass coefficient controller calls decode_mcu once per
// MCU, in order, into zeroed blocks, so the steps after it see exactly the
// coefficients its own decoder would have given, and every pixel is the
// serial decode's, at every scale.
//
// The layout of libjpeg's entropy decoder is internal (jpegint.h, not
// installed); it is declared again here for libjpeg-turbo 2.1, the version
// built against, and other versions never take this path.
//
// Taken only for one interleaved Huffman scan of 8-bit samples (or one
// component) without restart intervals, with no warning while the header
// was read. Where the entropy decoder stops (damaged or cut data, a marker
// inside the scan), or the scan is not followed by just the end-of-image
// marker, the path gives up: the serial decode runs from the start,
// decoding again into scratch the rows already handed on (which, coming
// from blocks decoded exactly, are the serial ones), so that warnings and
// failures are exactly the serial decode's.
#pragma once

#include <cstdint>

#include "codecs/jpeg/jpeg_output.h"
#include "codecs/jpeg/jpeg_restarts.h"
#include "codecs/jpeg/jpeg_rows.h"

// Decodes file into dst with the entropy stage when options.threads allows
// two threads and the file is one this path takes. On kNotTaken,
// *handedOn is the count of rows published already.
JpegSplitOutcome DecodeJpegWithEntropyStage(const JpegBytes& file, const JpegDecodeOptions& options,
                                            RowBand* dst, int64_t* handedOn);

// Images of fewer samples (width times height times components) decode
// serially: a thread's start would outweigh the overlap. Tests and fuzz
// targets lower it, to send small files through the stage. Returns the
// floor before.
int64_t SetJpegEntropyStageFloor(int64_t samples);

// Images decoded with the entropy stage to the end since the program
// started: a count for tests that the path was taken.
int64_t JpegImagesDecodedWithEntropyStage();
