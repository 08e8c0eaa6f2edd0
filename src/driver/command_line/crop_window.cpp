#include "driver/command_line/crop_window.h"

#include <algorithm>
#include <thread>

#include "base/output_geometry.h"
#include "base/start_thread.h"
#include "imageio/import.h"
#include "platform/graphics_import.h"
#include "platform/owned.h"
#include "stream/row_band.h"

namespace {

constexpr int32_t kSmallSide = 256;  // the small copy's longer side, at most
// The largest full resize (4 MP: 16 MB at 8 bits a channel) a job holds
// whole to place its window on.
constexpr int64_t kWholeResizePixels = 4 << 20;

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

int32_t ReductionFactor(int32_t width, int32_t height) {
  return std::max(1, (std::max(width, height) + kSmallSide - 1) / kSmallSide);
}

// The largest decode scale, 8, 4, 2 or else 1, whose decoded picture,
// reduced as above, keeps a small copy at least three quarters of the
// largest on its longer side: an importer that decodes scaled (JPEG's
// reduced inverse DCT, the same on every SIMD level) then does most of the
// reduction, and what stays of a full decode is mostly its entropy decoding.
int32_t SmallCopyScale(const Rect& natural) {
  const int32_t longer = std::max(natural.right - natural.left, natural.bottom - natural.top);
  for (int32_t scale : {8, 4, 2}) {
    const int32_t decoded = DecodedSide(longer, scale);
    const int32_t factor = ReductionFactor(decoded, decoded);
    if ((decoded + factor - 1) / factor >= kSmallSide * 3 / 4) return scale;
  }
  return 1;
}

// Opens the source and asks its importer for the scaled decode where it
// has one.
bool OpenForSmallCopy(const std::string& path, OpenedImport* opened) {
  if (OpenImport(path, opened) != noErr) return false;
  const int32_t scale = SmallCopyScale(opened->bounds);
  if (scale == 1 || !GraphicsImportDrawsScaled(opened->importer)) return true;
  return SetDrawScale(opened, scale) == noErr;
}

// Rows drawn into a small ring on another thread and reduced as they come:
// the whole picture is never held. False when the importer cannot, or the
// drawing fails.
bool DrawReducedByRows(const OpenedImport& opened, SmallPicture* small) {
  const int32_t width = opened.bounds.right - opened.bounds.left;
  const int32_t height = opened.bounds.bottom - opened.bounds.top;
  if (width < 1 || height < 1 || !GraphicsImportDrawsRowsInOrder(opened.importer)) return false;
  RowBand band;
  if (band.AllocateRing(width, height, k32ARGBPixelFormat, std::min(height, 64)) != noErr) {
    return false;
  }
  int32_t drawErr = noErr;
  std::thread drawer;
  if (!StartThread(&drawer, [&] {
        drawErr = GraphicsImportDrawRows(opened.importer, &band);
        if (drawErr != noErr) band.Stop(drawErr, RowBand::kWriter);
      })) {
    return false;
  }
  const RowReduction reduction{width, height, ReductionFactor(width, height), 4, {1, 2, 3}};
  const bool read = ReduceRows(
      reduction,
      [&](int32_t y) -> const uint8_t* {
        if (y > 0) band.Release(y);
        const uint8_t* row = band.RowToRead(y);
        return band.Stopped() || !band.IsFinal(y) ? nullptr : row;
      },
      small);
  band.Release(RowBand::kAllRows);
  drawer.join();
  return read && drawErr == noErr;
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
  if (!OpenForSmallCopy(path, &opened)) return false;
  if (GraphicsImportDrawsUpright(opened.importer)) orientation = 1;  // drawn turned already
  SmallPicture stored;
  if (!DrawReducedByRows(opened, &stored)) {
    // The whole picture drawn at once, by an importer that draws no rows.
    OpenedImport again;
    if (!OpenForSmallCopy(path, &again)) return false;
    GWorldPtr raw = nullptr;
    if (DrawWholeImage(again, false, &raw) != noErr || raw == nullptr) return false;
    UniqueGWorld drawn(raw);
    const PixelView view = PixelViewOf(drawn.get());
    RowReduction reduction{view.width, view.height, ReductionFactor(view.width, view.height),
                           view.pixelSize / 8};
    if (view.width < 1 || view.height < 1 || !ChannelOffsets(view, reduction.offsets)) {
      return false;
    }
    if (!ReduceRows(
            reduction, [&](int32_t y) { return view.base + y * view.rowBytes; }, &stored)) {
      return false;
    }
  }
  *small = Upright(stored, orientation);
  return true;
}

// Whether the job may place the output's window itself, on its own full
// resize once it is made: not for an animation's frames, nor beyond
// kWholeResizePixels, which the job would then hold whole.
bool PlacedByTheJob(const JobSettings& s, const OutputGeometry& g) {
  return !s.animated && int64_t(g.fullWidth) * g.fullHeight <= kWholeResizePixels;
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
  // A window too large for the job to hold its full resize is placed now,
  // on a small copy decoded for it.
  std::vector<OutputGeometry*> now;
  for (size_t i = 0; i < s.outputs.size(); ++i) {
    JobOutput& output = s.outputs[i];
    if (!isFill(i) || !Windowed(output.geometry)) continue;
    output.windowFromResize = PlacedByTheJob(s, output.geometry);
    if (!output.windowFromResize) now.push_back(&output.geometry);
  }
  SmallPicture small;
  if (now.empty() || !DrawSmallPicture(*s.inputPath, now.front()->orientation, &small)) return;
  for (OutputGeometry* g : now) {
    const WindowPlace place = PlaceScaledWindow(small, g->fullWidth, g->fullHeight, g->windowWidth,
                                                g->windowHeight, s.crop);
    MoveWindow(g, place.left, place.top);
  }
}
