#include "pipeline/placeholder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "base/base64.h"
#include "codecs/common/row_packer.h"
#include "codecs/webp/webp_preview.h"

namespace {

// A pixel's straight 8-bit samples, alpha first.
struct Rgba {
  uint32_t a, r, g, b;
};

uint32_t Narrow(uint16_t v) {
  return (uint32_t(v) * 255 + 32767) / 65535;
}

struct Argb32 {
  static constexpr int32_t kBytes = 4;
  static Rgba Get(const uint8_t* p) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    return {w >> 24, (w >> 16) & 0xFF, (w >> 8) & 0xFF, w & 0xFF};
  }
};
template <bool kAlpha>
struct Wide {
  static constexpr int32_t kBytes = kAlpha ? 8 : 6;
  static Rgba Get(const uint8_t* p) {
    uint16_t s[4] = {0xFFFF, 0, 0, 0};
    std::memcpy(kAlpha ? s : s + 1, p, kBytes);
    return {Narrow(s[0]), Narrow(s[1]), Narrow(s[2]), Narrow(s[3])};
  }
};

void Add(PlaceholderSums::Sums& s, const Rgba& p) {
  s.weight += p.a;
  s.red += p.r * p.a;
  s.green += p.g * p.a;
  s.blue += p.b * p.a;
  ++s.count;
}

uint32_t Mean(uint64_t sum, uint64_t weight) {
  return weight == 0 ? 0 : uint32_t((sum + weight / 2) / weight);
}

// Which of n cells position i of length lies in.
uint32_t CellOf(int64_t i, int32_t n, int32_t length) {
  return uint32_t(i * n / length);
}

// The grid averaged down to w x h (each a whole part of it), as RGBA.
std::vector<uint8_t> PreviewPixels(const std::vector<PlaceholderSums::Sums>& cells,
                                   int32_t gridWidth, int32_t gridHeight, int32_t w, int32_t h,
                                   bool* opaque) {
  std::vector<PlaceholderSums::Sums> merged(size_t(w) * size_t(h));
  for (int32_t y = 0; y < gridHeight; ++y) {
    for (int32_t x = 0; x < gridWidth; ++x) {
      const PlaceholderSums::Sums& c = cells[size_t(y) * size_t(gridWidth) + size_t(x)];
      PlaceholderSums::Sums& m =
          merged[size_t(CellOf(y, h, gridHeight)) * size_t(w) + CellOf(x, w, gridWidth)];
      m.weight += c.weight;
      m.red += c.red;
      m.green += c.green;
      m.blue += c.blue;
      m.count += c.count;
    }
  }
  std::vector<uint8_t> rgba;
  *opaque = true;
  for (const PlaceholderSums::Sums& m : merged) {
    const uint32_t alpha = Mean(m.weight, m.count);
    *opaque = *opaque && alpha == 255;
    rgba.insert(rgba.end(), {uint8_t(Mean(m.red, m.weight)), uint8_t(Mean(m.green, m.weight)),
                             uint8_t(Mean(m.blue, m.weight)), uint8_t(alpha)});
  }
  return rgba;
}

}  // namespace

OSErr PlaceholderSums::Prepare(int32_t width, int32_t height, OSType format, int32_t quarterTurns,
                               int32_t depth) {
  format_ = format;
  grey_ = ChannelsForDepth(depth) == ExportChannels::kGrey;
  const bool sideways = quarterTurns % 2 != 0;
  const int32_t turnedWidth = sideways ? height : width;
  const int32_t turnedHeight = sideways ? width : height;
  const int32_t longer = std::max(turnedWidth, turnedHeight);
  auto side = [&](int32_t length) {
    return std::clamp(int32_t((int64_t(length) * kPreviewSide + longer / 2) / longer), 1, length);
  };
  gridWidth_ = side(turnedWidth);
  gridHeight_ = side(turnedHeight);
  try {
    columnCell_.resize(size_t(width));
    rowCell_.resize(size_t(height));
    cells_.assign(size_t(gridWidth_) * size_t(gridHeight_), Sums{});
    bins_.assign(4096, Sums{});
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  // Where a stored pixel lands once turned: its column and row in the
  // turned picture, and from them its cell.
  const uint32_t gw = uint32_t(gridWidth_);
  for (int32_t x = 0; x < width; ++x) {
    switch (quarterTurns) {
      case 1:
        columnCell_[x] = CellOf(x, gridHeight_, turnedHeight) * gw;
        break;
      case 2:
        columnCell_[x] = CellOf(width - 1 - x, gridWidth_, turnedWidth);
        break;
      case 3:
        columnCell_[x] = CellOf(width - 1 - x, gridHeight_, turnedHeight) * gw;
        break;
      default:
        columnCell_[x] = CellOf(x, gridWidth_, turnedWidth);
    }
  }
  for (int32_t y = 0; y < height; ++y) {
    switch (quarterTurns) {
      case 1:
        rowCell_[y] = CellOf(height - 1 - y, gridWidth_, turnedWidth);
        break;
      case 2:
        rowCell_[y] = CellOf(height - 1 - y, gridHeight_, turnedHeight) * gw;
        break;
      case 3:
        rowCell_[y] = CellOf(y, gridWidth_, turnedWidth);
        break;
      default:
        rowCell_[y] = CellOf(y, gridHeight_, turnedHeight) * gw;
    }
  }
  return noErr;
}

template <typename Pixel>
void PlaceholderSums::AddRow(const uint8_t* row, int32_t width, uint32_t rowCell) {
  for (int32_t x = 0; x < width; ++x, row += Pixel::kBytes) {
    Rgba p = Pixel::Get(row);
    if (grey_) p.r = p.g = p.b = Luma8(p.r, p.g, p.b);
    Add(cells_[rowCell + columnCell_[size_t(x)]], p);
    Add(bins_[(p.r >> 4) << 8 | (p.g >> 4) << 4 | p.b >> 4], p);
  }
}

void PlaceholderSums::AddRows(const RowBand& band, int64_t from, int64_t to) {
  std::lock_guard<std::mutex> hold(mutex_);
  for (int64_t y = from; y < to; ++y) {
    const uint8_t* row = band.RowAddress(y);
    const uint32_t cell = rowCell_[size_t(y)];
    if (format_ == k64ARGBPixelFormat) {
      AddRow<Wide<true>>(row, band.Width(), cell);
    } else if (format_ == k48RGBCodecType) {
      AddRow<Wide<false>>(row, band.Width(), cell);
    } else {
      AddRow<Argb32>(row, band.Width(), cell);
    }
  }
}

Placeholder PlaceholderSums::Result() const {
  Placeholder result;
  // The most weighty bin, the first of equals; its pixels' mean colour.
  const auto most = std::max_element(
      bins_.begin(), bins_.end(), [](const Sums& a, const Sums& b) { return a.weight < b.weight; });
  if (most != bins_.end() && most->weight != 0) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "#%02x%02x%02x", Mean(most->red, most->weight),
                  Mean(most->green, most->weight), Mean(most->blue, most->weight));
    result.colour = hex;
  }
  // Smaller and coarser until the data URL fits.
  for (int32_t shrink = 1; shrink <= 4 && result.preview.empty(); shrink *= 2) {
    const int32_t w = std::max(1, gridWidth_ / shrink), h = std::max(1, gridHeight_ / shrink);
    bool opaque = true;
    const std::vector<uint8_t> rgba = PreviewPixels(cells_, gridWidth_, gridHeight_, w, h, &opaque);
    for (const float quality : {40.0f, 20.0f, 5.0f}) {
      const std::vector<uint8_t> file = TinyWebp(rgba.data(), w, h, opaque, quality);
      if (file.empty()) continue;
      std::string url = "data:image/webp;base64," + Base64(file);
      if (url.size() > kPreviewMostBytes) continue;
      result.preview = std::move(url);
      break;
    }
  }
  return result;
}
