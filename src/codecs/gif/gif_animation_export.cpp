// Animated GIF, frame by frame. Each canvas is held back until the next one
// comes, because a frame's disposal (and so its rectangle) depends on its
// successor: where a pixel turns from opaque to transparent, the frame
// before is disposed to the background, its rectangle grown to hold those
// pixels; the next frame then redraws what the disposal cleared. Every frame
// is the rectangle around the pixels that differ from what the viewer
// shows; inside it, pixels that already show the right colour are
// transparent or drawn again, whichever makes the frame smaller.
//
// Held: the previous canvas, the held-back one, which pixels the viewer
// shows opaque, and the encoded frames. Transparency is alpha below half.
//
// Palettes: a frame takes the colours of the pixels it draws, exactly when
// they are 256 or fewer, else quantised as a still is (gif_indexing.h). A
// global table gathers colours as frames come, without ever moving one;
// a frame whose colours still fit it may use it instead of a table of its
// own, and each frame takes whichever is smaller, so that an animation of
// few colours has one table and a photographic one a table a frame. Once
// the table is full, a frame may still be drawn with its nearest colours
// where that is about as close as a table of its own: the small changes of
// a screen recording then cost no table each.
#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_map>
#include <vector>

#include "base/memory_limit.h"
#include "codecs/common/canvas_channels.h"
#include "codecs/gif/gif_codec.h"
#include "codecs/gif/gif_encoder.h"
#include "codecs/gif/gif_indexing.h"

namespace {

constexpr int32_t kMostSide = 65535;
constexpr int32_t kMostRepeats = 65535;
constexpr int32_t kMostDelayCs = 65535;
constexpr size_t kMostColours = 256;
// Bytes a pixel: three canvases (previous, held back, coming in), the
// shown mask, the rectangle's pixels and up to four ways of indexing it;
// and the quantiser's own.
constexpr uint64_t kBytesPerPixel = 3 * 4 + 1 + 4 + 4;
constexpr uint64_t kQuantiserBytes = uint64_t(1) << 26;

constexpr uint32_t kClear = 0;
// The file's head at most: signature, screen, a global table of 256
// colours and the loop block.
constexpr size_t kHeadRoom = 6 + 7 + 3 * 256 + 19;

struct Box {
  int32_t left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
  bool Empty() const { return right <= left || bottom <= top; }
  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
  void Add(int32_t x, int32_t y) {
    if (Empty()) {
      *this = {x, y, x + 1, y + 1};
      return;
    }
    left = std::min(left, x);
    top = std::min(top, y);
    right = std::max(right, x + 1);
    bottom = std::max(bottom, y + 1);
  }
};

bool Opaque(uint32_t rgba) {
  return rgba != kClear;
}

// A frame's indices and the table they refer to, as one way to write it.
struct FrameChoice {
  std::vector<uint8_t> indices;
  std::vector<uint32_t> localColours;  // empty: the global table
  int32_t transparent = -1;
  int32_t globalSlots = 0;  // with the global table: entries it must have
};

class GifAnimationWriter final : public AnimationWriter {
 public:
  GifAnimationWriter(const AnimationInfo& info, int32_t quality) : info_(info), quality_(quality) {}

  OSErr Prepare() {
    const size_t pixels = size_t(info_.width) * size_t(info_.height);
    try {
      encoded_.assign(kHeadRoom, 0);
      previous_.assign(pixels, kClear);
      held_.assign(pixels, kClear);
      next_.assign(pixels, kClear);
      shown_.assign(pixels, 0);
    } catch (const std::bad_alloc&) {
      return memFullErr;
    }
    return noErr;
  }

  OSErr AddFrame(const PixelView& canvas, int32_t delayMs) override {
    if (canvas.width != info_.width || canvas.height != info_.height ||
        canvas.pixelFormat != k32ARGBPixelFormat || delayMs < 0) {
      return paramErr;
    }
    // Bytes A, R, G, B to one word, the transparent ones all alike.
    for (int32_t y = 0; y < canvas.height; ++y) {
      const uint8_t* from = canvas.base + y * canvas.rowBytes;
      uint32_t* to = next_.data() + int64_t(y) * info_.width;
      for (int32_t x = 0; x < canvas.width; ++x, from += 4) {
        to[x] = from[0] < 128 ? kClear
                              : uint32_t(from[1]) << 24 | uint32_t(from[2]) << 16 |
                                    uint32_t(from[3]) << 8 | 0xFF;
      }
    }
    if (frames_ > 0) {
      if (OSErr err = WriteHeld(&next_)) return err;
    }
    std::swap(held_, next_);
    heldDelayMs_ = delayMs;
    ++frames_;
    return noErr;
  }

  OSErr Finish(std::vector<uint8_t>* file) override {
    if (file == nullptr || frames_ == 0) return paramErr;
    if (OSErr err = WriteHeld(nullptr)) return err;
    std::vector<uint8_t> head;
    try {
      ByteSink sink(&head);
      std::vector<uint32_t> global = global_;
      global.resize(std::max(global.size(), size_t(globalSlots_)), 0);
      GifEncoder gif;
      if (OSErr err = gif.Open(&sink, info_.width, info_.height, global)) return err;
      if (info_.loopCount != 1) {
        const int32_t repeats = info_.loopCount == 0 ? 0 : info_.loopCount - 1;
        if (OSErr err = gif.PutRepeats(std::min(repeats, kMostRepeats))) return err;
      }
      if (OSErr err = gif.Close()) return err;
      head.pop_back();  // the trailer, which comes after the frames
      encoded_.push_back(0x3B);
    } catch (const std::bad_alloc&) {
      return memFullErr;
    }
    if (head.size() > kHeadRoom) return codecErr;
    // The head goes into the room left for it, so that the frames are
    // never copied whole.
    const size_t unused = kHeadRoom - head.size();
    std::copy(head.begin(), head.end(), encoded_.begin() + long(unused));
    encoded_.erase(encoded_.begin(), encoded_.begin() + long(unused));
    *file = std::move(encoded_);
    encoded_ = {};
    return noErr;
  }

 private:
  // Writes the held frame; next is the frame after it, or null for the last.
  OSErr WriteHeld(const std::vector<uint32_t>* next) {
    const int32_t width = info_.width;
    // What the held frame must draw, and what turns transparent after it.
    Box box;
    bool vanishes = false;
    for (int32_t y = 0; y < info_.height; ++y) {
      const size_t row = size_t(y) * size_t(width);
      for (int32_t x = 0; x < width; ++x) {
        const size_t i = row + size_t(x);
        const bool vanish = next != nullptr && Opaque(held_[i]) && !Opaque((*next)[i]);
        if (vanish || Draws(i)) box.Add(x, y);
        vanishes = vanishes || vanish;
      }
    }
    const int disposal = vanishes ? kDisposeToBackground : kDisposeNone;
    if (box.Empty()) box = {0, 0, 1, 1};  // nothing changes: one transparent pixel
    // The first frame covers the canvas: what lies outside it is
    // transparent to browsers but the screen's background colour to others
    // (ImageMagick, gifsicle).
    if (written_ == 0) box = {0, 0, info_.width, info_.height};

    // The rectangle's pixels, those it need not draw transparent.
    std::vector<uint8_t> rgba;
    try {
      rgba.resize(size_t(box.Width()) * size_t(box.Height()) * 4);
    } catch (const std::bad_alloc&) {
      return memFullErr;
    }
    uint8_t* p = rgba.data();
    for (int32_t y = box.top; y < box.bottom; ++y) {
      for (int32_t x = box.left; x < box.right; ++x, p += 4) {
        const size_t i = size_t(y) * size_t(width) + size_t(x);
        const uint32_t c = Draws(i) ? held_[i] : kClear;
        p[0] = uint8_t(c >> 24), p[1] = uint8_t(c >> 16), p[2] = uint8_t(c >> 8), p[3] = uint8_t(c);
      }
    }
    IndexedPicture indexed;
    if (OSErr err = IndexPicture({rgba.data(), box.Width(), box.Height()}, quality_, &indexed)) {
      return err;
    }
    if (OSErr err = WriteFrame(box, disposal, indexed, rgba)) return err;
    rgba = {};

    // What the viewer shows afterwards.
    for (int32_t y = box.top; y < box.bottom; ++y) {
      for (int32_t x = box.left; x < box.right; ++x) {
        const size_t i = size_t(y) * size_t(width) + size_t(x);
        shown_[i] = disposal != kDisposeToBackground && Opaque(held_[i]);
      }
    }
    std::swap(previous_, held_);
    ++written_;
    return noErr;
  }

  // Whether the held frame must draw pixel i: an opaque pixel the viewer
  // does not already show (an opaque pixel shown is the previous frame's).
  bool Draws(size_t i) const {
    return Opaque(held_[i]) && !(shown_[i] && held_[i] == previous_[i]);
  }

  // Encodes the frame each way it can be written and keeps the smallest.
  // rgba: the rectangle's pixels as indexed.
  OSErr WriteFrame(const Box& box, int disposal, const IndexedPicture& indexed,
                   const std::vector<uint8_t>& rgba) {
    std::vector<FrameChoice> choices;
    std::vector<uint32_t> merged;
    try {
      choices.push_back({indexed.indices, indexed.colours, indexed.transparent, 0});
      if (indexed.exact && indexed.transparent >= 0) choices.push_back(Redrawn(box, indexed));
      std::vector<uint8_t> toGlobal;
      if (!MergeIntoGlobal(indexed, &merged, &toGlobal)) {
        merged.clear();
        if (FrameChoice nearest; NearestInGlobal(indexed, rgba, &nearest)) {
          choices.push_back(std::move(nearest));
        }
      } else {
        const int32_t slot = int32_t(merged.size());  // unused by this frame
        if (indexed.transparent >= 0) toGlobal[size_t(indexed.transparent)] = uint8_t(slot);
        for (size_t c = 0, local = choices.size(); c < local; ++c) {
          FrameChoice global{choices[c].indices,
                             {},
                             indexed.transparent < 0 ? -1 : slot,
                             indexed.transparent < 0 ? slot : slot + 1};
          for (uint8_t& i : global.indices) i = toGlobal[i];
          choices.push_back(std::move(global));
        }
      }
    } catch (const std::bad_alloc&) {
      return memFullErr;
    }

    const int32_t delayCs = NextDelayCs();
    std::vector<uint8_t> best;
    const FrameChoice* chosen = nullptr;
    for (const FrameChoice& choice : choices) {
      std::vector<uint8_t> bytes;
      if (OSErr err = EncodeFrame(box, disposal, delayCs, choice, &bytes)) return err;
      if (chosen == nullptr || bytes.size() < best.size()) {
        best = std::move(bytes);
        chosen = &choice;
      }
    }
    try {
      encoded_.insert(encoded_.end(), best.begin(), best.end());
    } catch (const std::bad_alloc&) {
      return memFullErr;
    }
    if (chosen->localColours.empty()) {
      if (!merged.empty()) global_ = std::move(merged);
      globalSlots_ = std::max(globalSlots_, chosen->globalSlots);
    }
    return noErr;
  }

  // The frame drawn with the global table's nearest colours, when its own
  // do not fit the table: a small rectangle then needs no table of its
  // own. Taken only where it is about as close as the frame's own
  // palette (a level a channel more on average), so that a full table
  // never wears the picture down.
  bool NearestInGlobal(const IndexedPicture& indexed, const std::vector<uint8_t>& rgba,
                       FrameChoice* nearest) const {
    if (global_.empty()) return false;
    // Each of the frame's own colours to the table's nearest (at most
    // 256 by 256 comparisons, however many pixels).
    std::vector<uint8_t> toGlobal(indexed.colours.size(), 0);
    std::vector<bool> used(kMostColours, false);
    for (size_t c = 0; c < indexed.colours.size(); ++c) {
      if (int32_t(c) != indexed.transparent) toGlobal[c] = NearestColour(indexed.colours[c]);
    }
    nearest->indices = indexed.indices;
    int64_t ownError = 0, globalError = 0, opaque = 0;
    for (size_t k = 0; k < nearest->indices.size(); ++k) {
      const uint8_t own = indexed.indices[k];
      if (int32_t(own) == indexed.transparent) continue;
      const uint8_t* p = &rgba[4 * k];
      const uint32_t colour = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
      nearest->indices[k] = toGlobal[own];
      used[toGlobal[own]] = true;
      ownError += ColourDistance(colour, indexed.colours[own]);
      globalError += ColourDistance(colour, global_[toGlobal[own]]);
      ++opaque;
    }
    if (globalError > ownError + 3 * opaque) return false;
    nearest->localColours.clear();
    nearest->transparent = -1;
    nearest->globalSlots = 0;
    if (indexed.transparent >= 0) {
      // Any entry this frame does not draw with serves as its transparent one.
      size_t slot = 0;
      while (slot < kMostColours && slot < global_.size() && used[slot]) ++slot;
      if (slot == kMostColours) return false;
      nearest->transparent = int32_t(slot);
      nearest->globalSlots = int32_t(slot) + 1;
      for (size_t k = 0; k < nearest->indices.size(); ++k) {
        if (int32_t(indexed.indices[k]) == indexed.transparent) nearest->indices[k] = uint8_t(slot);
      }
    }
    return true;
  }

  uint8_t NearestColour(uint32_t colour) const {
    size_t best = 0;
    int32_t bestDistance = INT32_MAX;
    for (size_t c = 0; c < global_.size() && bestDistance > 0; ++c) {
      const int32_t d = ColourDistance(colour, global_[c]);
      if (d < bestDistance) bestDistance = d, best = c;
    }
    return uint8_t(best);
  }

  // The sum of the channels' differences of two 0xRRGGBB colours.
  static int32_t ColourDistance(uint32_t a, uint32_t b) {
    int32_t d = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
      d += std::abs(int32_t(a >> shift & 0xFF) - int32_t(b >> shift & 0xFF));
    }
    return d;
  }

  // The exact frame with the pixels already shown drawn again where the
  // frame's table has their colour, for runs that transparency would break.
  FrameChoice Redrawn(const Box& box, const IndexedPicture& indexed) const {
    std::unordered_map<uint32_t, uint8_t> index;
    for (size_t c = 0; c < indexed.colours.size(); ++c) {
      if (int32_t(c) != indexed.transparent) index.emplace(indexed.colours[c] << 8 | 0xFF, c);
    }
    FrameChoice redrawn{indexed.indices, indexed.colours, indexed.transparent, 0};
    size_t k = 0;
    for (int32_t y = box.top; y < box.bottom; ++y) {
      for (int32_t x = box.left; x < box.right; ++x, ++k) {
        const uint32_t c = held_[size_t(y) * size_t(info_.width) + size_t(x)];
        if (redrawn.indices[k] != indexed.transparent || !Opaque(c)) continue;
        if (auto at = index.find(c); at != index.end()) redrawn.indices[k] = at->second;
      }
    }
    return redrawn;
  }

  // The global table with the frame's colours added, and where each went;
  // false when they do not fit (with a free entry for transparency).
  bool MergeIntoGlobal(const IndexedPicture& indexed, std::vector<uint32_t>* merged,
                       std::vector<uint8_t>* toGlobal) const {
    *merged = global_;
    toGlobal->assign(indexed.colours.size(), 0);
    for (size_t c = 0; c < indexed.colours.size(); ++c) {
      if (int32_t(c) == indexed.transparent) continue;
      const auto at = std::find(merged->begin(), merged->end(), indexed.colours[c]);
      if (at == merged->end()) {
        if (merged->size() == kMostColours) return false;
        merged->push_back(indexed.colours[c]);
      }
      (*toGlobal)[c] =
          uint8_t(std::find(merged->begin(), merged->end(), indexed.colours[c]) - merged->begin());
    }
    return indexed.transparent < 0 || merged->size() < kMostColours;
  }

  // One frame as giflib writes it, without the file's head and trailer.
  OSErr EncodeFrame(const Box& box, int disposal, int32_t delayCs, const FrameChoice& choice,
                    std::vector<uint8_t>* bytes) const {
    // With the global table, the code size follows the highest index drawn.
    uint8_t highest = 0;
    for (uint8_t i : choice.indices) highest = std::max(highest, i);
    const std::vector<uint32_t> screen(choice.localColours.empty() ? size_t(highest) + 1 : 0);
    try {
      ByteSink sink(bytes);
      GifEncoder gif;
      if (OSErr err = gif.Open(&sink, info_.width, info_.height, screen)) return err;
      const size_t start = bytes->size();
      if (OSErr err = gif.PutControl(delayCs, disposal, choice.transparent)) return err;
      if (OSErr err =
              gif.BeginImage(box.left, box.top, box.Width(), box.Height(), choice.localColours)) {
        return err;
      }
      if (OSErr err = gif.PutRows(choice.indices.data(), box.Height())) return err;
      if (OSErr err = gif.Close()) return err;
      bytes->pop_back();  // the trailer
      bytes->erase(bytes->begin(), bytes->begin() + long(start));
    } catch (const std::bad_alloc&) {
      return memFullErr;
    }
    return noErr;
  }

  // The held frame's delay in centiseconds, rounded so that every frame
  // ends at its own time rounded: the rounding does not add up. A delay
  // cut to the longest GIF holds loses the rest, rather than handing it on
  // to the frames after.
  int32_t NextDelayCs() {
    elapsedMs_ += heldDelayMs_;
    const int64_t endCs = (elapsedMs_ + 5) / 10;
    const int64_t delay = std::min<int64_t>(endCs - writtenCs_, kMostDelayCs);
    writtenCs_ = endCs;
    return int32_t(delay);
  }

  AnimationInfo info_;
  int32_t quality_;
  std::vector<uint32_t> previous_;  // the frame written last, 0xRRGGBBFF or clear
  std::vector<uint32_t> held_;      // the frame held back
  std::vector<uint32_t> next_;      // the frame being taken in
  std::vector<uint8_t> shown_;      // whether the viewer shows an opaque pixel there
  std::vector<uint32_t> global_;    // the global table's colours so far
  int32_t globalSlots_ = 0;         // entries it must have, transparent ones included
  std::vector<uint8_t> encoded_;    // room for the head, then the frames written
  int32_t frames_ = 0;
  int32_t written_ = 0;  // frames written
  int32_t heldDelayMs_ = 0;
  int64_t elapsedMs_ = 0;
  int64_t writtenCs_ = 0;
};

}  // namespace

OSErr StartGifAnimation(const AnimationRequest& request, std::unique_ptr<AnimationWriter>* writer) {
  if (writer == nullptr) return paramErr;
  writer->reset();
  const AnimationInfo& info = request.info;
  if (info.width < 1 || info.height < 1 || info.width > kMostSide || info.height > kMostSide ||
      info.loopCount < 0) {
    return paramErr;
  }
  const uint64_t pixels = uint64_t(info.width) * uint64_t(info.height);
  if (!WorkingBytesFit(pixels * kBytesPerPixel + kQuantiserBytes)) return memFullErr;
  std::unique_ptr<GifAnimationWriter> made;
  try {
    made = std::make_unique<GifAnimationWriter>(info, request.quality);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  if (OSErr err = made->Prepare()) return err;
  *writer = KeepingChannels(std::move(made), request.depth);
  return *writer != nullptr ? noErr : memFullErr;
}
