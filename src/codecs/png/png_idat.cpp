#include "codecs/png/png_idat.h"

#include "codecs/png/png_chunk_frame.h"

#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
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

// One thread's compressors, kept from strip to strip.
struct IdatCompressor::Encoders {
  libdeflate_compressor* deflate = nullptr;
  isal_zstream isal;
  std::vector<uint8_t> isalLevelBuffer;
  std::vector<uint8_t> scanWindow;  // output of the final block search
  ~Encoders() { libdeflate_free_compressor(deflate); }
};

namespace {

// ISA-L's middle level: as fast as its lowest on noisy data, and closer to
// zlib's level 6 on smooth data.
constexpr int kIsalLevel = 2;

// Raw deflate of data with ISA-L, from dictionary, ending on a byte
// boundary (or the stream's end).
bool CompressIsal(IdatCompressor::Encoders* e, const std::vector<uint8_t>& data,
                  const std::vector<uint8_t>& dictionary, bool last, std::vector<uint8_t>* out) {
  e->isalLevelBuffer.resize(ISAL_DEF_LVL2_DEFAULT);
  isal_zstream& z = e->isal;
  isal_deflate_init(&z);
  z.level = kIsalLevel;
  z.level_buf = e->isalLevelBuffer.data();
  z.level_buf_size = uint32_t(e->isalLevelBuffer.size());
  if (!dictionary.empty() && isal_deflate_set_dict(&z, const_cast<uint8_t*>(dictionary.data()),
                                                   uint32_t(dictionary.size())) != COMP_OK) {
    return false;
  }
  // Stored blocks at worst, and the flush marker.
  out->resize(data.size() + data.size() / 64 + 1024);
  z.next_in = const_cast<uint8_t*>(data.data());
  z.avail_in = uint32_t(data.size());
  z.next_out = out->data();
  z.avail_out = uint32_t(out->size());
  z.end_of_stream = last ? 1 : 0;
  z.flush = last ? NO_FLUSH : SYNC_FLUSH;
  if (isal_deflate(&z) != COMP_OK || z.avail_in != 0) return false;
  const bool done =
      last ? z.internal_state.state == ZSTATE_END : z.internal_state.state == ZSTATE_NEW_HDR;
  out->resize(out->size() - z.avail_out);
  return done;
}

// Finds the final block of a whole raw deflate stream: the bit where its
// header starts and the bit where the stream ends. zlib stops after each
// block when asked (Z_BLOCK) and tells how many bits of the last byte it
// has not used.
bool FindFinalBlock(IdatCompressor::Encoders* e, const std::vector<uint8_t>& stream,
                    uint64_t* headerBit, uint64_t* endBit) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  e->scanWindow.resize(1 << 16);
  z.next_in = const_cast<uint8_t*>(stream.data());
  z.avail_in = uInt(stream.size());
  uint64_t boundary = 0;  // the first block starts at bit 0
  bool found = false;
  int status = Z_OK;
  while (status == Z_OK) {
    z.next_out = e->scanWindow.data();
    z.avail_out = uInt(e->scanWindow.size());
    status = inflate(&z, Z_BLOCK);
    if (status != Z_OK || (z.data_type & 128) == 0) continue;  // not at a block's end
    const uint64_t bit = uint64_t(z.total_in) * 8 - uint64_t(z.data_type & 7);
    // 64: the block just ended is the final one.
    if ((z.data_type & 64) != 0) {
      *endBit = bit;
      found = true;
    } else {
      boundary = bit;
    }
  }
  inflateEnd(&z);
  *headerBit = boundary;
  return status == Z_STREAM_END && found;
}

// Raw deflate of data with libdeflate, which always ends on a final block:
// unless this is the last strip, that block is marked not final and the
// stream continues with an empty stored block up to a byte boundary, as a
// flush would. libdeflate takes no dictionary, so the strip starts afresh.
bool CompressLibdeflate(IdatCompressor::Encoders* e, int level, const std::vector<uint8_t>& data,
                        bool last, std::vector<uint8_t>* out) {
  if (e->deflate == nullptr) e->deflate = libdeflate_alloc_compressor(level);
  if (e->deflate == nullptr) return false;
  out->resize(libdeflate_deflate_compress_bound(e->deflate, data.size()) + 5);
  const size_t bytes =
      libdeflate_deflate_compress(e->deflate, data.data(), data.size(), out->data(), out->size());
  if (bytes == 0) return false;
  out->resize(bytes);
  if (last) return true;
  uint64_t headerBit = 0, endBit = 0;
  if (!FindFinalBlock(e, *out, &headerBit, &endBit) || (endBit + 7) / 8 != bytes) return false;
  (*out)[headerBit / 8] &= uint8_t(~(1u << (headerBit % 8)));
  // The stored block's header is three zero bits; libdeflate pads with
  // zeros, so it fits in the last byte when three bits are left there.
  const unsigned used = unsigned(endBit % 8);
  if (used != 0) out->back() &= uint8_t((1u << used) - 1);
  if (used == 0 || used > 5) out->push_back(0);
  for (uint8_t b : {0x00, 0x00, 0xFF, 0xFF}) out->push_back(b);
  return true;
}

}  // namespace

struct IdatCompressor::Strip {
  std::vector<uint8_t> filtered;  // rows with their filter bytes
  std::vector<uint8_t> dictionary;
  std::vector<uint8_t> compressed;
  bool last = false;
  bool ok = false;
  Encoder encoder = Encoder::kUndecided;
  std::thread worker;

  // With kUndecided, compresses both ways and keeps the smaller, and
  // encoder says which.
  void Compress(Encoders* e, int level) {
    try {
      switch (encoder) {
        case Encoder::kIsal:
          ok = CompressIsal(e, filtered, dictionary, last, &compressed);
          break;
        case Encoder::kLibdeflate:
          ok = CompressLibdeflate(e, level, filtered, last, &compressed);
          break;
        case Encoder::kUndecided: {
          std::vector<uint8_t> other;
          ok = CompressIsal(e, filtered, dictionary, last, &compressed) &&
               CompressLibdeflate(e, level, filtered, last, &other);
          encoder = Encoder::kIsal;
          if (other.size() < compressed.size()) {
            compressed.swap(other);
            encoder = Encoder::kLibdeflate;
          }
          break;
        }
      }
    } catch (const std::bad_alloc&) {
      ok = false;
    }
  }
};

IdatCompressor::IdatCompressor(int64_t rowBytes, int bytesPerPixel, int level, ByteSink* file)
    : rowBytes_(rowBytes),
      bytesPerPixel_(std::max(bytesPerPixel, 1)),
      level_(level),
      file_(file),
      adler_(uint32_t(libdeflate_adler32(1, nullptr, 0))) {}

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
    adler_ = libdeflate_adler32(adler_, filtered.data() + filtered.size() - rowBytes_ - 1,
                                size_t(rowBytes_ + 1));
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
  try {
    for (auto& e : encoders_) {
      if (e == nullptr) e = std::make_unique<Encoders>();
    }
  } catch (const std::bad_alloc&) {
    failed_ = true;
    return memFullErr;
  }
  strip.encoder = encoder_;
  if (encoder_ == Encoder::kUndecided) {
    // The first strip tries both compressors; the rest use the one whose
    // output was smaller.
    strip.Compress(encoders_[0].get(), level_);
    encoder_ = strip.encoder;
    const OSErr err = Collect(&strip);
    filling_.reset();
    return err;
  }
  if (inFlight_ == nullptr && !last) {
    inFlight_ = std::move(filling_);
    Strip* s = inFlight_.get();
    Encoders* e = encoders_[1].get();
    try {
      s->worker = std::thread([s, e, level = level_] { s->Compress(e, level); });
    } catch (const std::system_error&) {
      s->Compress(e, level_);  // no thread to spare
    }
    return noErr;
  }
  strip.Compress(encoders_[0].get(), level_);
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
  const PngChunkFrame frame = FramePngChunk("IDAT", {{prefix, prefixBytes}, {data, bytes}});
  OSErr err = file_->Append(frame.head, sizeof frame.head);
  if (err == noErr) err = file_->Append(prefix, prefixBytes);
  if (err == noErr) err = file_->Append(data, bytes);
  if (err == noErr) err = file_->Append(frame.tail, sizeof frame.tail);
  if (err != noErr) failed_ = true;
  return err;
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
