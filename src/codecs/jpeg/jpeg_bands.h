// One JPEG decoded on two threads, pixel for pixel as libjpeg-turbo's
// serial decode gives it.
//
// Entropy decoding is serial by nature, but a restart marker starts it
// afresh. For a file whose restart markers are all there and in order
// (codecs/jpeg/jpeg_restarts.h), the image is cut into bands of iMCU rows
// that begin where an interval begins, and each band is decoded by
// libjpeg-turbo from a stream of its own: the file's header with the
// frame's height made the band's, then the band's intervals with their
// markers numbered again from 0, then an end marker. Where chroma is
// upsampled vertically, smooth upsampling reads a sample row of the
// neighbouring iMCU rows: a band then decodes one iMCU row below its own,
// and gives the first row of the band below from it, in place of the one
// that band decodes with nothing above. Every other step after the
// entropy decoding (dequantisation, inverse DCT, upsampling, colour
// conversion) works within one iMCU row, so every pixel equals the serial
// decode's, at every scale.
//
// The drawing thread decodes the even bands straight into the rows it
// hands on; a second thread decodes the odd ones into a band of rows of
// its own, which the drawing thread copies out in turn. So at most one
// band of rows is held beyond the reader's ring, and a band's rows are
// bounded in bytes (a few MB).
//
// Any warning or error in a band gives up: the second thread stops, and
// the serial decode runs from the start, decoding again into scratch the
// rows already handed on (which, from bands without warnings, are the
// serial ones), so that warnings and failures are exactly the serial
// decode's. Files without restart markers have no place to cut the
// entropy-coded data (finding where each row of MCUs starts would cost the
// entropy decoding twice): a baseline one runs its entropy decoding on a
// thread of its own instead (codecs/jpeg/jpeg_entropy_stage.h).
// Progressive and arithmetic files, and markers damaged or missing, decode
// serially.
#pragma once

#include <cstdint>

#include "codecs/jpeg/jpeg_output.h"
#include "codecs/jpeg/jpeg_restarts.h"
#include "codecs/jpeg/jpeg_rows.h"

// Decodes file into dst in bands when options.threads allows two threads
// and the file maps (MapJpegRestarts) into at least two bands. On
// kNotTaken, *handedOn is the count of rows published already: the serial
// decode must give them again, but into scratch.
JpegSplitOutcome DecodeJpegBands(const JpegBytes& file, const JpegDecodeOptions& options,
                                 RowBand* dst, int64_t* handedOn);

// Sets the bytes of rows a band may hold (at least a few iMCU rows
// whatever it says), returning the previous value: for tests that make
// bands small.
int64_t SetJpegBandBytes(int64_t bytes);

// Images decoded in bands to the end since the program started: a count
// for tests that the band path was taken.
int64_t JpegImagesDecodedInBands();
