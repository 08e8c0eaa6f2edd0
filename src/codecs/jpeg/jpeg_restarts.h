// Where a baseline JPEG's restart markers cut its entropy-coded data into
// intervals that decode on their own: at a restart marker the decoder
// starts afresh (DC predictions zero, bit reader empty), so the rows of
// MCUs from one on are the same image whichever part of the file came
// before. One pass over the file finds every marker; a file whose markers
// are not all there, in order, ending at its end-of-image marker, has no
// map (it decodes serially, with the serial decode's warnings).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/codec.h"

// The compressed file: bytes in memory, or an open file read as needed.
struct JpegBytes {
  ByteSpan memory;
  int fd = -1;
  uint64_t size = 0;
};

// Reads count bytes at offset into out; false past the end or on failure.
bool ReadJpegBytes(const JpegBytes& file, uint64_t offset, size_t count, uint8_t* out);

struct JpegRestartMap {
  // The file from its start to the end of its scan header, and where in it
  // the frame's 16-bit height is.
  std::vector<uint8_t> header;
  size_t heightOffset = 0;
  int32_t imageHeight = 0;
  // Rows of MCUs ("iMCU rows"): how many, pixels in each (8 times the
  // largest vertical sampling factor) and MCUs in each.
  int32_t imcuRows = 0;
  int32_t imcuHeight = 0;
  int64_t mcusPerImcuRow = 0;
  int64_t totalMcus = 0;
  int64_t restartInterval = 0;  // MCUs
  // iMCU rows from one row that starts with an interval to the next.
  int32_t stepRows = 0;
  // Whether a component has fewer rows than the image: its smooth
  // upsampling reads a sample row of the iMCU rows above and below.
  bool upsamplesVertically = false;
  // Each interval's first byte (after the marker before it), and where the
  // end-of-image marker begins. An interval's data ends two bytes before
  // the next one's start, or at the end marker.
  std::vector<uint64_t> starts;
  uint64_t end = 0;
};

// Restart boundaries further apart than this many iMCU rows are not used:
// each band would decode too much of the band above again.
constexpr int32_t kJpegMaxStepRows = 4;

// Fills map for a file of one interleaved (or single-component) baseline
// Huffman scan of 8-bit samples with a restart interval, whose markers all
// arrived in order, up to its end-of-image marker, and whose restart
// boundaries start an iMCU row at least every kJpegMaxStepRows rows.
// False for any other file.
bool MapJpegRestarts(const JpegBytes& file, JpegRestartMap* map);
