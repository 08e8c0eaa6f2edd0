#include "codecs/png/png_inflate.h"

#include <isa-l/igzip_lib.h>
#include <libdeflate.h>

#include <algorithm>
#include <cstring>

#include "base/big_endian.h"

namespace {

constexpr size_t kInputBytes = size_t(1) << 16;
constexpr size_t kStoredBytes = 65535;  // the most a stored block holds
constexpr size_t kStoredHeader = 5;
constexpr size_t kFillerBytes = 4096;

}  // namespace

struct IdatInflater::Isal {
  inflate_state state;
};

IdatInflater::IdatInflater(SourceRead read, void* source, uint32_t firstLength)
    : read_(read),
      source_(source),
      isal_(std::make_unique<Isal>()),
      input_(kInputBytes),
      chunkLeft_(firstLength),
      crc_(libdeflate_crc32(0, "IDAT", 4)),
      segment_(kStoredHeader + kStoredBytes),
      frameLeft_(firstLength) {
  isal_inflate_init(&isal_->state);
  // The zlib header is checked here, the Adler-32 at the end by ISA-L.
  isal_->state.crc_flag = ISAL_ZLIB_NO_HDR_VER;
}

IdatInflater::~IdatInflater() = default;

bool IdatInflater::Read(uint8_t* out, size_t bytes) {
  while (bytes > 0) {
    switch (frame_) {
      case Frame::kData: {
        if (frameLeft_ == 0) {
          // libpng's own checksums are off: zeros do.
          std::memset(frameBytes_, 0, 4);
          frameAt_ = 0;
          frame_ = Frame::kChecksum;
          break;
        }
        if (segmentAt_ == segmentEnd_ && !NextSegment()) return false;
        const size_t piece = std::min(
            {bytes, size_t(std::min<uint64_t>(frameLeft_, SIZE_MAX)), segmentEnd_ - segmentAt_});
        std::memcpy(out, segment_.data() + segmentAt_, piece);
        segmentAt_ += piece;
        frameLeft_ -= piece;
        out += piece;
        bytes -= piece;
        break;
      }
      case Frame::kChecksum:
      case Frame::kHeader: {
        const size_t size = frame_ == Frame::kChecksum ? 4 : 8;
        const size_t piece = std::min(bytes, size - frameAt_);
        std::memcpy(out, frameBytes_ + frameAt_, piece);
        frameAt_ += piece;
        out += piece;
        bytes -= piece;
        if (frameAt_ < size) break;
        frameAt_ = 0;
        if (frame_ == Frame::kHeader) {
          frame_ = Frame::kData;
          break;
        }
        // The next chunk holds what the stream has ready. After the stream's
        // end, libpng asks for no more: a chunk of another type stops it.
        if (segmentAt_ == segmentEnd_ && payload_ != Payload::kDone && !NextSegment()) {
          return false;
        }
        frameLeft_ = segmentEnd_ - segmentAt_;
        const uint32_t length = uint32_t(frameLeft_);
        const uint8_t header[8] = {uint8_t(length >> 24),
                                   uint8_t(length >> 16),
                                   uint8_t(length >> 8),
                                   uint8_t(length),
                                   'I',
                                   frameLeft_ > 0 ? uint8_t('D') : uint8_t('E'),
                                   frameLeft_ > 0 ? uint8_t('A') : uint8_t('N'),
                                   frameLeft_ > 0 ? uint8_t('T') : uint8_t('D')};
        std::memcpy(frameBytes_, header, 8);
        frame_ = Frame::kHeader;
        break;
      }
    }
  }
  return true;
}

// The stream shown: a zlib header, one stored block for each piece that
// ISA-L inflates, a final empty block and an Adler-32 that libpng does not
// check; zeros after it, should the file's first chunk be longer.
bool IdatInflater::NextSegment() {
  uint8_t* s = segment_.data();
  segmentAt_ = 0;
  switch (payload_) {
    case Payload::kHeader:
      s[0] = 0x78;
      s[1] = 0x01;
      segmentEnd_ = 2;
      payload_ = Payload::kBlocks;
      return true;
    case Payload::kBlocks: {
      size_t n = 0;
      if (!Inflate(s + kStoredHeader, kStoredBytes, &n)) return false;
      if (n > 0) {
        const uint8_t header[kStoredHeader] = {0x00, uint8_t(n), uint8_t(n >> 8), uint8_t(~n),
                                               uint8_t(~n >> 8)};
        std::memcpy(s, header, kStoredHeader);
        segmentEnd_ = kStoredHeader + n;
        return true;
      }
      const uint8_t end[9] = {0x01, 0x00, 0x00, 0xFF, 0xFF, 0, 0, 0, 0};
      std::memcpy(s, end, sizeof end);
      segmentEnd_ = sizeof end;
      payload_ = Payload::kDone;
      return true;
    }
    case Payload::kDone:
      std::memset(s, 0, kFillerBytes);
      segmentEnd_ = kFillerBytes;
      return true;
  }
  return false;
}

// Inflates up to capacity bytes; fewer only at the stream's end.
bool IdatInflater::Inflate(uint8_t* out, size_t capacity, size_t* produced) {
  inflate_state& z = isal_->state;
  z.next_out = out;
  z.avail_out = uint32_t(capacity);
  while (z.avail_out > 0 && !ended_) {
    // ISA-L keeps the end of its input when that ends inside a symbol, and
    // may have more output for it: more input only when it stopped short.
    if (needInput_) {
      if (z.avail_in > 0 || !Refill()) return false;
      if (z.avail_in == 0) continue;  // the zlib header took it all
    }
    const int status = isal_inflate(&z);
    if (status != ISAL_DECOMP_OK && status != ISAL_END_INPUT && status != ISAL_OUT_OVERFLOW) {
      return false;
    }
    if (z.block_state == ISAL_BLOCK_FINISH) {
      if (!FinishLastChunk()) return false;
    } else {
      needInput_ = z.avail_out > 0;
    }
  }
  *produced = capacity - z.avail_out;
  return true;
}

// Reads the next piece of the file's image data for ISA-L, moving on to the
// next chunk when this one is done; the zlib header is taken out first.
bool IdatInflater::Refill() {
  while (chunkLeft_ == 0) {
    if (!EndChunk()) return false;
  }
  const size_t piece = size_t(std::min<uint64_t>(chunkLeft_, input_.size()));
  if (!read_(source_, input_.data(), piece)) return false;
  crc_ = libdeflate_crc32(crc_, input_.data(), piece);
  chunkLeft_ -= piece;
  size_t at = 0;
  while (zlibHeaderBytes_ < 2 && at < piece) zlibHeader_[zlibHeaderBytes_++] = input_[at++];
  if (zlibHeaderBytes_ == 2 && at > 0) {
    // zlib's checks: a deflate stream of at most 32 KB window, no preset
    // dictionary, a header check that adds up. ISA-L keeps 32 KB whatever
    // the window (a smaller one fails in its version 2.30).
    const unsigned cmf = zlibHeader_[0], flg = zlibHeader_[1];
    if ((cmf * 256 + flg) % 31 != 0 || (cmf & 15) != 8 || (cmf >> 4) > 7 || (flg & 0x20) != 0) {
      return false;
    }
  }
  isal_->state.next_in = input_.data() + at;
  isal_->state.avail_in = uint32_t(piece - at);
  return true;
}

// Checks the current chunk's CRC and reads the next chunk's header, which
// must be image data: the stream is not over.
bool IdatInflater::EndChunk() {
  uint8_t tail[4];
  if (!read_(source_, tail, 4) || ReadBigEndian32(tail) != crc_) return false;
  uint8_t header[8];
  if (!read_(source_, header, 8) || std::memcmp(header + 4, "IDAT", 4) != 0) return false;
  chunkLeft_ = ReadBigEndian32(header);
  if (chunkLeft_ > 0x7FFFFFFFu) return false;
  crc_ = libdeflate_crc32(0, header + 4, 4);
  return true;
}

// At the stream's end, as libpng does: the rest of its chunk is read and the
// chunk's CRC checked; later chunks are not read.
bool IdatInflater::FinishLastChunk() {
  while (chunkLeft_ > 0) {
    const size_t piece = size_t(std::min<uint64_t>(chunkLeft_, input_.size()));
    if (!read_(source_, input_.data(), piece)) return false;
    crc_ = libdeflate_crc32(crc_, input_.data(), piece);
    chunkLeft_ -= piece;
  }
  uint8_t tail[4];
  if (!read_(source_, tail, 4) || ReadBigEndian32(tail) != crc_) return false;
  ended_ = true;
  isal_->state.avail_in = 0;
  return true;
}
