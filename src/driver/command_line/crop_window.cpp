#include "driver/command_line/crop_window.h"

#include <algorithm>

#include "imageio/import.h"
#include "platform/graphics_import.h"
#include "platform/owned.h"

namespace {

constexpr int32_t kSmallSide = 256;  // the small copy's longer side, at most

// Byte offsets of R, G and B (their high bytes for 16-bit samples) in a
// pixel, or false for a format the copy does not read.
bool ChannelOffsets(const PixelView& view, int32_t offsets[3]) {
  switch (view.pixelSize) {
    case 32:
      offsets[0] = 1, offsets[1] = 2, offsets[2] = 3;  // A R G B
      return true;
    case 48:
      offsets[0] = 0, offsets[1] = 2, offsets[2] = 4;  // big-endian R G B
      return true;
    case 64:
      offsets[0] = 2, offsets[1] = 4, offsets[2] = 6;  // big-endian A R G B
      return true;
    case 8:
      offsets[0] = offsets[1] = offsets[2] = 0;  // grey
      return true;
    default:
      return false;
  }
}

// The stored picture averaged over factor x factor blocks (clipped at the
// right and bottom edges).
SmallPicture Reduce(const PixelView& view, const int32_t offsets[3], int32_t factor) {
  SmallPicture small;
  small.width = (view.width + factor - 1) / factor;
  small.height = (view.height + factor - 1) / factor;
  small.rgb.resize(size_t(small.width) * small.height * 3);
  const int32_t bytes = view.pixelSize / 8;
  for (int32_t y = 0; y < small.height; ++y) {
    for (int32_t x = 0; x < small.width; ++x) {
      int64_t sum[3] = {}, count = 0;
      for (int32_t sy = y * factor; sy < std::min(view.height, (y + 1) * factor); ++sy) {
        const uint8_t* row = view.base + sy * view.rowBytes;
        for (int32_t sx = x * factor; sx < std::min(view.width, (x + 1) * factor); ++sx) {
          for (int c = 0; c < 3; ++c) sum[c] += row[sx * bytes + offsets[c]];
          ++count;
        }
      }
      for (int c = 0; c < 3; ++c) {
        small.rgb[(size_t(y) * small.width + x) * 3 + c] = uint8_t((sum[c] + count / 2) / count);
      }
    }
  }
  return small;
}

// The stored copy put upright by the orientation (1 to 8).
SmallPicture Upright(const SmallPicture& stored, int32_t orientation) {
  if (orientation < 2 || orientation > 8) return stored;
  const int32_t w = stored.width, h = stored.height;
  const bool swaps = orientation >= 5;
  SmallPicture out;
  out.width = swaps ? h : w;
  out.height = swaps ? w : h;
  out.rgb.resize(stored.rgb.size());
  for (int32_t y = 0; y < out.height; ++y) {
    for (int32_t x = 0; x < out.width; ++x) {
      int32_t sx = x, sy = y;
      switch (orientation) {
        case 2:
          sx = w - 1 - x;
          break;
        case 3:
          sx = w - 1 - x, sy = h - 1 - y;
          break;
        case 4:
          sy = h - 1 - y;
          break;
        case 5:
          sx = y, sy = x;
          break;
        case 6:
          sx = y, sy = h - 1 - x;
          break;
        case 7:
          sx = w - 1 - y, sy = h - 1 - x;
          break;
        case 8:
          sx = w - 1 - y, sy = x;
          break;
      }
      std::copy_n(&stored.rgb[(size_t(sy) * w + sx) * 3], 3,
                  &out.rgb[(size_t(y) * out.width + x) * 3]);
    }
  }
  return out;
}

bool DrawSmallPicture(const std::string& path, int32_t orientation, SmallPicture* small) {
  OpenedImport opened;
  if (OpenImport(path, &opened) != noErr) return false;
  if (GraphicsImportDrawsUpright(opened.importer)) orientation = 1;  // drawn turned already
  GWorldPtr raw = nullptr;
  if (DrawWholeImage(opened, false, &raw) != noErr || raw == nullptr) return false;
  UniqueGWorld drawn(raw);
  const PixelView view = PixelViewOf(drawn.get());
  int32_t offsets[3];
  if (view.width < 1 || view.height < 1 || !ChannelOffsets(view, offsets)) return false;
  const int32_t factor =
      std::max(1, (std::max(view.width, view.height) + kSmallSide - 1) / kSmallSide);
  *small = Upright(Reduce(view, offsets, factor), orientation);
  return true;
}

int32_t Scaled(int32_t value, int32_t to, int32_t from) {
  return int32_t((int64_t(value) * to + from / 2) / from);
}

// The window placed on the small copy, carried back to the full resize.
void PlaceWindowOf(const SmallPicture& small, CropRule rule, OutputGeometry* g) {
  const int32_t width = std::max(1, Scaled(g->windowWidth, small.width, g->fullWidth));
  const int32_t height = std::max(1, Scaled(g->windowHeight, small.height, g->fullHeight));
  const WindowPlace place = PlaceWindow(small, width, height, rule);
  MoveWindow(g, Scaled(place.left, g->fullWidth, small.width),
             Scaled(place.top, g->fullHeight, small.height));
}

}  // namespace

void PlaceCropWindows(JobSettings& s, std::span<const SizeEntry> sizes, std::vector<Note>& notes) {
  if (!s.cropGiven) return;
  const auto isFill = [&](size_t i) {
    return sizes.empty() ? s.boxRule == BoxRule::kFill : sizes[i].rule == BoxRule::kFill;
  };
  bool anyFill = false;
  for (size_t i = 0; i < std::max<size_t>(1, sizes.size()); ++i) anyFill = anyFill || isFill(i);
  if (!anyFill) {
    notes.push_back({NoteKind::kMessage, "Nothing to crop: //crop needs //fill\n"});
    ++s.errorCount;
    return;
  }
  if (s.crop == CropRule::kCentre || s.errorCount != 0 || !s.inputPath || s.outputs.empty()) return;
  SmallPicture small;
  if (!DrawSmallPicture(*s.inputPath, s.outputs.front().geometry.orientation, &small)) return;
  for (size_t i = 0; i < s.outputs.size(); ++i) {
    OutputGeometry& g = s.outputs[i].geometry;
    if (isFill(i) && Windowed(g)) PlaceWindowOf(small, s.crop, &g);
  }
}
