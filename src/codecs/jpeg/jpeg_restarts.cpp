#include "codecs/jpeg/jpeg_restarts.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <numeric>

#include "base/big_endian.h"

bool ReadJpegBytes(const JpegBytes& file, uint64_t offset, size_t count, uint8_t* out) {
  if (offset > file.size || count > file.size - offset) return false;
  if (file.fd < 0) {
    std::memcpy(out, file.memory.data() + offset, count);
    return true;
  }
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(file.fd, out + done, count - done, off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

namespace {

// More intervals than this are not mapped (their offsets would outweigh
// the rows a band holds).
constexpr size_t kMaxIntervals = size_t(1) << 22;
// Nor are heads longer than this, which every band decodes again.
constexpr size_t kMaxHeader = size_t(1) << 20;

// The file's bytes a window at a time: the memory itself, or reads of the
// open file.
class Cursor {
 public:
  explicit Cursor(const JpegBytes& file) : file_(file) {
    if (file.fd < 0) {
      data_ = file.memory.data();
      length_ = file.memory.size();
    }
  }
  // The byte at pos; false past the end or when it cannot be read.
  bool At(uint64_t pos, uint8_t* byte) {
    if (!Hold(pos)) return false;
    *byte = data_[pos - start_];
    return true;
  }
  // The first 0xFF at or after pos.
  bool NextFF(uint64_t pos, uint64_t* at) {
    while (Hold(pos)) {
      const uint8_t* from = data_ + (pos - start_);
      const void* found = std::memchr(from, 0xFF, length_ - (pos - start_));
      if (found != nullptr) {
        *at = start_ + uint64_t(static_cast<const uint8_t*>(found) - data_);
        return true;
      }
      pos = start_ + length_;
    }
    return false;
  }

 private:
  bool Hold(uint64_t pos) {
    if (pos >= start_ && pos < start_ + length_) return true;
    if (file_.fd < 0 || pos >= file_.size) return false;
    if (window_.empty()) {
      try {
        window_.resize(size_t(1) << 20);
      } catch (const std::bad_alloc&) {
        return false;
      }
    }
    const size_t count = size_t(std::min<uint64_t>(window_.size(), file_.size - pos));
    if (!ReadJpegBytes(file_, pos, count, window_.data())) return false;
    data_ = window_.data();
    start_ = pos;
    length_ = count;
    return true;
  }

  const JpegBytes& file_;
  std::vector<uint8_t> window_;
  const uint8_t* data_ = nullptr;
  uint64_t start_ = 0;
  size_t length_ = 0;
};

struct Frame {
  int32_t width = 0, height = 0, components = 0, scanComponents = 0;
  int32_t h[4] = {}, v[4] = {};
  int64_t restartInterval = 0;
};

bool IsOtherFrame(uint8_t marker) {
  return marker >= 0xC2 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Reads the frame's facts from the segments before the scan, keeping
// those libjpeg reads (all but the other application segments and
// comments) in map->header; scanStart: the offset after the scan header.
bool ReadHead(const JpegBytes& file, Frame* frame, JpegRestartMap* map, uint64_t* scanStart) {
  uint8_t two[2];
  if (!ReadJpegBytes(file, 0, 2, two) || two[0] != 0xFF || two[1] != 0xD8) return false;
  map->header.assign(two, two + 2);
  uint64_t pos = 2;
  bool sawFrame = false;
  for (;;) {
    uint8_t head[4];
    if (!ReadJpegBytes(file, pos, 4, head) || head[0] != 0xFF) return false;
    const uint8_t marker = head[1];
    const size_t length = ReadBigEndian16(head + 2);
    if (length < 2) return false;
    const bool skipped = (marker >= 0xE1 && marker <= 0xEF && marker != 0xEE) || marker == 0xFE;
    if (!skipped) {
      if (map->header.size() + 2 + length > kMaxHeader) return false;
      const size_t at = map->header.size();
      map->header.resize(at + 2 + length);
      uint8_t* segment = map->header.data() + at;
      if (!ReadJpegBytes(file, pos, 2 + length, segment)) return false;
      const uint8_t* body = segment + 4;
      if (marker == 0xC0 || marker == 0xC1) {
        if (sawFrame || length < 8 || body[0] != 8) return false;
        sawFrame = true;
        frame->height = ReadBigEndian16(body + 1);
        frame->width = ReadBigEndian16(body + 3);
        frame->components = body[5];
        if (frame->components != 1 && frame->components != 3 && frame->components != 4) {
          return false;
        }
        if (length < size_t(8 + 3 * frame->components)) return false;
        for (int c = 0; c < frame->components; ++c) {
          frame->h[c] = body[7 + 3 * c] >> 4;
          frame->v[c] = body[7 + 3 * c] & 15;
          if (frame->h[c] < 1 || frame->h[c] > 4 || frame->v[c] < 1 || frame->v[c] > 4) {
            return false;
          }
        }
        map->heightOffset = at + 5;
      } else if (IsOtherFrame(marker)) {
        return false;  // progressive, lossless, arithmetic
      } else if (marker == 0xDD && length >= 4) {
        frame->restartInterval = ReadBigEndian16(body);
      } else if (marker == 0xDA) {
        if (!sawFrame || length < 3) return false;
        frame->scanComponents = body[0];
        *scanStart = pos + 2 + length;
        return frame->scanComponents == frame->components;
      }
    }
    pos += 2 + length;
  }
}

// The sizes in MCUs, as libjpeg lays the scan out.
bool LayOut(const Frame& frame, JpegRestartMap* map) {
  if (frame.width < 1 || frame.height < 1 || frame.restartInterval < 1) return false;
  const int32_t maxH = *std::max_element(frame.h, frame.h + frame.components);
  const int32_t maxV = *std::max_element(frame.v, frame.v + frame.components);
  map->imageHeight = frame.height;
  map->imcuHeight = 8 * maxV;
  map->imcuRows = (frame.height + map->imcuHeight - 1) / map->imcuHeight;
  if (frame.components == 1) {
    // One block a MCU, v rows of blocks an iMCU row.
    const int64_t wide = (int64_t(frame.width) * frame.h[0] + 8 * maxH - 1) / (8 * maxH);
    const int64_t high = (int64_t(frame.height) * frame.v[0] + 8 * maxV - 1) / (8 * maxV);
    map->mcusPerImcuRow = wide * frame.v[0];
    map->totalMcus = wide * high;
  } else {
    map->mcusPerImcuRow = (frame.width + 8 * maxH - 1) / (8 * maxH);
    map->totalMcus = map->mcusPerImcuRow * map->imcuRows;
  }
  map->restartInterval = frame.restartInterval;
  const int64_t step = frame.restartInterval / std::gcd(frame.restartInterval, map->mcusPerImcuRow);
  if (step > kJpegMaxStepRows) return false;
  map->stepRows = int32_t(step);
  map->upsamplesVertically = false;
  for (int c = 0; c < frame.components; ++c) {
    if (frame.v[c] < maxV) map->upsamplesVertically = true;
  }
  return true;
}

// Finds every restart marker from pos on: each must be the next in turn,
// and the last interval must end at the end-of-image marker.
bool FindMarkers(const JpegBytes& file, uint64_t pos, JpegRestartMap* map) {
  const int64_t intervals = (map->totalMcus + map->restartInterval - 1) / map->restartInterval;
  if (size_t(intervals) > kMaxIntervals) return false;
  try {
    // Each marker takes two bytes: a header cannot make this reserve more.
    map->starts.reserve(size_t(std::min<uint64_t>(uint64_t(intervals), file.size / 2 + 1)));
  } catch (const std::bad_alloc&) {
    return false;
  }
  map->starts.assign(1, pos);
  Cursor cursor(file);
  for (;;) {
    uint64_t at = 0;
    if (!cursor.NextFF(pos, &at)) return false;  // no end-of-image marker
    uint64_t next = at + 1;
    uint8_t byte = 0xFF;
    while (byte == 0xFF) {
      if (!cursor.At(next++, &byte)) return false;
    }
    pos = next;
    if (byte == 0) continue;  // a stuffed 0xFF
    if (byte == 0xD9) {
      map->end = at;
      return int64_t(map->starts.size()) == intervals;
    }
    const int64_t number = int64_t(map->starts.size()) - 1;
    if (byte != 0xD0 + (number & 7) || int64_t(map->starts.size()) >= intervals) return false;
    map->starts.push_back(next);
  }
}

}  // namespace

bool MapJpegRestarts(const JpegBytes& file, JpegRestartMap* map) {
  Frame frame;
  uint64_t scanStart = 0;
  try {
    if (!ReadHead(file, &frame, map, &scanStart) || !LayOut(frame, map)) return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  return FindMarkers(file, scanStart, map);
}
