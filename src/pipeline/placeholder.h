// What a web page shows while an image loads: the output's dominant colour
// and a tiny preview of it, worked out from the resized rows as they pass
// to the encoder (no second reading, no whole picture kept).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "base/mac_types.h"
#include "stream/row_band.h"

// The longer side of the preview, in pixels, and the most a preview's data
// URL may take.
constexpr int32_t kPreviewSide = 16;
constexpr size_t kPreviewMostBytes = 300;

struct Placeholder {
  std::string colour;   // "#rrggbb"; empty when every pixel is transparent
  std::string preview;  // "data:image/webp;base64,..."; empty when none could be made
};

class PlaceholderSums {
 public:
  // Rows of width x height in a destination format (native samples), whose
  // picture is turned clockwise by quarterTurns once they are all seen and
  // written at depth (a grey depth: each pixel taken as the encoder's luma).
  // memFullErr when the sums cannot be had.
  OSErr Prepare(int32_t width, int32_t height, OSType format, int32_t quarterTurns, int32_t depth);
  // The band's rows [from, to), from any thread.
  void AddRows(const RowBand& band, int64_t from, int64_t to);
  // Once every row has been added.
  Placeholder Result() const;

  // Colours weighted by their alpha, so that what is transparent counts for
  // nothing; count is the pixels.
  struct Sums {
    uint64_t weight = 0;
    uint64_t red = 0;
    uint64_t green = 0;
    uint64_t blue = 0;
    uint64_t count = 0;
  };

 private:
  template <typename Pixel>
  void AddRow(const uint8_t* row, int32_t width, uint32_t rowCell);

  OSType format_ = 0;
  bool grey_ = false;
  int32_t gridWidth_ = 0;
  int32_t gridHeight_ = 0;
  // A pixel's preview cell is columnCell_[x] + rowCell_[y].
  std::vector<uint32_t> columnCell_;
  std::vector<uint32_t> rowCell_;
  std::vector<Sums> cells_;
  std::vector<Sums> bins_;  // colours by their top 4 bits a channel
  std::mutex mutex_;
};
