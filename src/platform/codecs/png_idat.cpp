#include "platform/codecs/png_idat.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <system_error>
#include <thread>

namespace {

// Filtered bytes per strip: large enough that the strips' seams cost
// nothing measurable, small enough to keep the extra memory at about 2 MB
// and the last strips, compressed after the last row, short.
constexpr int64_t kStripBytes = int64_t(1) << 19;
constexpr size_t kWindowBytes = 32768;

enum Filter : uint8_t { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };

uint8_t Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a);
  const int pb = std::abs(p - b);
  const int pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return uint8_t(a);
  return uint8_t(pb <= pc ? b : c);
}

// A filtered byte's weight in libpng's measure: its value taken as signed.
inline uint32_t Weight(uint8_t v) {
  return v < 128 ? v : 256u - v;
}

// Writes row filtered with filter to out (row length n, bpp bytes a pixel)
// and answers the sum of the weights of its bytes. One loop per filter, so
// that each is simple enough for the compiler to vectorise.
uint64_t FilterRow(Filter filter, const uint8_t* row, const uint8_t* above, int64_t n, int bpp,
                   uint8_t* out) {
  const int64_t head = std::min<int64_t>(bpp, n);  // pixels with nothing to their left
  switch (filter) {
    case kNone:
      std::copy(row, row + n, out);
      break;
    case kSub:
      std::copy(row, row + head, out);
      for (int64_t i = head; i < n; ++i) out[i] = uint8_t(row[i] - row[i - bpp]);
      break;
    case kUp:
      for (int64_t i = 0; i < n; ++i) out[i] = uint8_t(row[i] - above[i]);
      break;
    case kAverage:
      for (int64_t i = 0; i < head; ++i) out[i] = uint8_t(row[i] - (above[i] >> 1));
      for (int64_t i = head; i < n; ++i) {
        out[i] = uint8_t(row[i] - ((unsigned(row[i - bpp]) + above[i]) >> 1));
      }
      break;
    case kPaeth:
      for (int64_t i = 0; i < head; ++i) out[i] = uint8_t(row[i] - above[i]);
      for (int64_t i = head; i < n; ++i) {
        out[i] = uint8_t(row[i] - Paeth(row[i - bpp], above[i], above[i - bpp]));
      }
      break;
  }
  uint64_t sum = 0;
  for (int64_t i = 0; i < n; ++i) sum += Weight(out[i]);
  return sum;
}

}  // namespace

struct IdatCompressor::Strip {
  std::vector<uint8_t> filtered;  // rows with their filter bytes
  std::vector<uint8_t> dictionary;
  std::vector<uint8_t> compressed;
  bool last = false;
  bool ok = false;
  std::thread worker;

  // Raw deflate, ending on a byte boundary (or the stream's end).
  void Compress(int level) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_FILTERED) != Z_OK) return;
    ok = true;
    if (!dictionary.empty()) {
      ok = deflateSetDictionary(&z, dictionary.data(), uInt(dictionary.size())) == Z_OK;
    }
    try {
      compressed.resize(deflateBound(&z, uLong(filtered.size())) + 16);
    } catch (const std::bad_alloc&) {
      ok = false;
    }
    if (ok) {
      z.next_in = filtered.data();
      z.avail_in = uInt(filtered.size());
      z.next_out = compressed.data();
      z.avail_out = uInt(compressed.size());
      const int status = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
      ok = last ? status == Z_STREAM_END : status == Z_OK && z.avail_in == 0;
      compressed.resize(compressed.size() - z.avail_out);
    }
    deflateEnd(&z);
  }
};

IdatCompressor::IdatCompressor(int64_t rowBytes, int bytesPerPixel, int level,
                               std::vector<uint8_t>* file)
    : rowBytes_(rowBytes),
      bytesPerPixel_(std::max(bytesPerPixel, 1)),
      level_(level),
      file_(file),
      adler_(uint32_t(adler32(0, nullptr, 0))) {}

IdatCompressor::~IdatCompressor() {
  if (inFlight_ != nullptr && inFlight_->worker.joinable()) inFlight_->worker.join();
}

OSErr IdatCompressor::AddRow(const uint8_t* row) {
  if (failed_) return codecErr;
  try {
    if (previousRow_.empty()) {
      previousRow_.assign(size_t(rowBytes_), 0);
      candidates_.resize(size_t(rowBytes_) * 2);
    }
    if (filling_ == nullptr) {
      filling_ = std::make_unique<Strip>();
      filling_->filtered.reserve(size_t(std::max(kStripBytes, rowBytes_ + 1)));
    }
    // The filter whose bytes sum smallest; ties go to the earlier filter.
    uint8_t* best = candidates_.data();
    uint8_t* trial = best + rowBytes_;
    uint64_t bestSum = FilterRow(kNone, row, previousRow_.data(), rowBytes_, bytesPerPixel_, best);
    Filter bestFilter = kNone;
    for (Filter f : {kSub, kUp, kAverage, kPaeth}) {
      const uint64_t sum = FilterRow(f, row, previousRow_.data(), rowBytes_, bytesPerPixel_, trial);
      if (sum < bestSum) {
        bestSum = sum;
        bestFilter = f;
        std::swap(best, trial);
      }
    }
    std::vector<uint8_t>& filtered = filling_->filtered;
    filtered.push_back(bestFilter);
    filtered.insert(filtered.end(), best, best + rowBytes_);
    adler_ = uint32_t(
        adler32(adler_, filtered.data() + filtered.size() - rowBytes_ - 1, uInt(rowBytes_ + 1)));
    std::copy(row, row + rowBytes_, previousRow_.begin());
  } catch (const std::bad_alloc&) {
    failed_ = true;
    return memFullErr;
  }
  if (int64_t(filling_->filtered.size()) >= kStripBytes) return FlushStrip(false);
  return noErr;
}

// Strips go in pairs: the first to the other thread, the second compressed
// here meanwhile; both then join the stream in order.
OSErr IdatCompressor::FlushStrip(bool last) {
  if (filling_ == nullptr) filling_ = std::make_unique<Strip>();
  Strip& strip = *filling_;
  strip.last = last;
  strip.dictionary = dictionary_;
  // The next strip's window: the last 32 KB before it, reaching back into
  // earlier strips when this one is shorter.
  const std::vector<uint8_t>& data = strip.filtered;
  dictionary_.insert(dictionary_.end(),
                     data.end() - std::ptrdiff_t(std::min(kWindowBytes, data.size())), data.end());
  if (dictionary_.size() > kWindowBytes) {
    dictionary_.erase(dictionary_.begin(), dictionary_.end() - std::ptrdiff_t(kWindowBytes));
  }
  if (inFlight_ == nullptr && !last) {
    inFlight_ = std::move(filling_);
    Strip* s = inFlight_.get();
    try {
      s->worker = std::thread([s, level = level_] { s->Compress(level); });
    } catch (const std::system_error&) {
      s->Compress(level_);  // no thread to spare
    }
    return noErr;
  }
  strip.Compress(level_);
  if (inFlight_ != nullptr) {
    const OSErr err = Collect(inFlight_.get());
    inFlight_.reset();
    if (err != noErr) return err;
  }
  const OSErr err = Collect(&strip);
  filling_.reset();
  return err;
}

// One IDAT chunk: length, type, prefix and data, CRC of type and bytes.
OSErr IdatCompressor::AppendChunk(const uint8_t* prefix, size_t prefixBytes, const uint8_t* data,
                                  size_t bytes) {
  static const uint8_t kType[4] = {'I', 'D', 'A', 'T'};
  const uint32_t length = uint32_t(prefixBytes + bytes);
  // zlib answers 0 for a null buffer, whatever the running value.
  uLong crc = crc32(0, kType, 4);
  if (prefixBytes > 0) crc = crc32(crc, prefix, uInt(prefixBytes));
  if (bytes > 0) crc = crc32(crc, data, uInt(bytes));
  const uint8_t head[8] = {uint8_t(length >> 24),
                           uint8_t(length >> 16),
                           uint8_t(length >> 8),
                           uint8_t(length),
                           'I',
                           'D',
                           'A',
                           'T'};
  const uint8_t tail[4] = {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)};
  try {
    file_->insert(file_->end(), head, head + 8);
    file_->insert(file_->end(), prefix, prefix + prefixBytes);
    file_->insert(file_->end(), data, data + bytes);
    file_->insert(file_->end(), tail, tail + 4);
  } catch (const std::bad_alloc&) {
    failed_ = true;
    return memFullErr;
  }
  return noErr;
}

OSErr IdatCompressor::Collect(Strip* strip) {
  if (strip->worker.joinable()) strip->worker.join();
  if (!strip->ok) {
    failed_ = true;
    return codecErr;
  }
  // The stream's header (deflate, 32 KB window, default level) goes first.
  static const uint8_t kZlibHeader[2] = {0x78, 0x9C};
  const size_t headerBytes = started_ ? 0 : 2;
  started_ = true;
  return AppendChunk(kZlibHeader, headerBytes, strip->compressed.data(), strip->compressed.size());
}

OSErr IdatCompressor::Finish() {
  if (failed_) return codecErr;
  if (OSErr err = FlushStrip(true)) return err;
  const uint8_t checksum[4] = {uint8_t(adler_ >> 24), uint8_t(adler_ >> 16), uint8_t(adler_ >> 8),
                               uint8_t(adler_)};
  return AppendChunk(checksum, 4, nullptr, 0);
}
