#include "codecs/jpeg/jpeg_entropy.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

// Zigzag order to natural order, with 16 entries of 63 after the end: a
// run past the end of a damaged block lands on the last coefficient, as in
// libjpeg, rather than outside the block.
constexpr uint8_t kNaturalOrder[64 + 16] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33,
    40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36,
    29, 22, 15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54,
    47, 55, 62, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63};

// A DC sum beyond this stops the decoder: far past any real image, and
// short of the overflow of a 32-bit sum.
constexpr int32_t kMaxDc = int32_t(1) << 30;

constexpr size_t kWindowBytes = size_t(1) << 16;

bool HasFFByte(uint64_t w) {
  const uint64_t v = ~w;
  return ((v - 0x0101010101010101u) & ~v & 0x8080808080808080u) != 0;
}

uint64_t LoadBigEndian64(const uint8_t* p) {
  uint64_t w = 0;
  std::memcpy(&w, p, 8);
  return std::endian::native == std::endian::little ? __builtin_bswap64(w) : w;
}

int32_t Extend(int32_t v, int32_t s) {
  return v < (1 << (s - 1)) ? v - (1 << s) + 1 : v;
}

// The fast AC entries (only read for AC tables).
void FillFastAc(HuffmanTable* t) {
  for (uint32_t look = 0; look < (1u << kHuffmanLookahead); ++look) {
    const int32_t length = t->fast[look] >> 8;
    const int32_t run = (t->fast[look] >> 4) & 15, size = t->fast[look] & 15;
    if (length == 0 || size == 0 || length + size > kHuffmanLookahead) continue;
    const int32_t bits = int32_t(look >> (kHuffmanLookahead - length - size)) & ((1 << size) - 1);
    t->fastAc[look] = Extend(bits, size) * 256 + run * 16 + length + size;
  }
}

}  // namespace

bool BuildHuffmanTable(const uint8_t bits[17], const uint8_t values[256], HuffmanTable* t) {
  *t = HuffmanTable{};
  std::memcpy(t->values, values, sizeof t->values);
  int32_t p = 0;
  uint32_t code = 0;
  for (int32_t l = 1; l <= 16; ++l) {
    const int32_t n = bits[l];
    if (p + n > 256) return false;
    t->maxcode[l] = -1;
    if (n > 0) {
      t->valoffset[l] = p - int32_t(code);
      for (int32_t i = 0; i < n; ++i, ++p, ++code) {
        if (l > kHuffmanLookahead) continue;
        const uint32_t first = code << (kHuffmanLookahead - l);
        for (uint32_t j = 0; j < (1u << (kHuffmanLookahead - l)); ++j) {
          t->fast[first + j] = uint16_t(l << 8 | values[p]);
        }
      }
      t->maxcode[l] = int32_t(code) - 1;
    }
    // No code may be all ones: the next one must still fit in l bits.
    if (code >= (1u << l)) return false;
    code <<= 1;
  }
  FillFastAc(t);
  return true;
}

EntropyDecoder::EntropyDecoder(const EntropyScan& scan, const JpegBytes& file, uint64_t scanStart)
    : scan_(scan), file_(file) {
  if (file.fd < 0) {
    next_ = file.memory.data() + scanStart;
    end_ = file.memory.data() + file.memory.size();
  } else {
    window_.resize(kWindowBytes);
    next_ = end_ = window_.data();
    fileNext_ = scanStart;
  }
}

// Moves what is left of the window to its start and reads on after it.
bool EntropyDecoder::LoadWindow() {
  if (file_.fd < 0 || fileNext_ >= file_.size) return false;
  const size_t keep = size_t(end_ - next_);
  std::memmove(window_.data(), next_, keep);
  const size_t want = size_t(std::min<uint64_t>(window_.size() - keep, file_.size - fileNext_));
  if (want == 0 || !ReadJpegBytes(file_, fileNext_, want, window_.data() + keep)) return false;
  fileNext_ += want;
  next_ = window_.data();
  end_ = next_ + keep + want;
  return true;
}

bool EntropyDecoder::RawByte(uint8_t* byte) {
  if (next_ == end_ && !LoadWindow()) return false;
  *byte = *next_++;
  return true;
}

// A byte at a time, minding 0xFF: 0xFF 0x00 is a data byte 0xFF, 0xFF and
// anything else a marker, where the data stops (next_ stays on the 0xFF).
// Past the stop, zero bits are counted in as pad.
EntropyDecoder::Bits EntropyDecoder::RefillSlowly(Bits b) {
  while (b.count <= 56) {
    uint8_t byte = 0;
    if (!stopped_) {
      if (next_ == end_ && !LoadWindow()) {
        stopped_ = true;
      } else if (*next_ != 0xFF) {
        byte = *next_++;
      } else {
        if (end_ - next_ < 2) LoadWindow();
        if (end_ - next_ >= 2 && next_[1] == 0) {
          byte = 0xFF;
          next_ += 2;
        } else {
          stopped_ = true;
        }
      }
    }
    if (stopped_) b.pad += 8;
    b.acc |= uint64_t(byte) << (56 - b.count);
    b.count += 8;
  }
  return b;
}

// Tops the bits up to 56 or more: eight bytes at once where none is 0xFF.
inline void EntropyDecoder::Refill(Bits* b) {
  if (end_ - next_ >= 8) {
    const uint64_t w = LoadBigEndian64(next_);
    if (!HasFFByte(w)) {
      b->acc |= w >> b->count;
      const int64_t n = (63 - b->count) >> 3;
      next_ += n;
      b->count += n * 8;
      b->acc &= ~(~uint64_t{0} >> b->count);
      return;
    }
  }
  *b = RefillSlowly(*b);
}

// DECODE: the symbol of the code the bits begin with, -1 for none.
inline int32_t EntropyDecoder::DecodeSymbol(Bits* b, const HuffmanTable& t) {
  const uint32_t look = uint32_t(b->acc >> (64 - kHuffmanLookahead));
  const int32_t length = t.fast[look] >> 8;
  if (length != 0) {
    b->acc <<= length;
    b->count -= length;
    return t.fast[look] & 0xFF;
  }
  for (int32_t l = kHuffmanLookahead + 1; l <= 16; ++l) {
    const int32_t code = int32_t(b->acc >> (64 - l));
    if (code <= t.maxcode[l]) {
      b->acc <<= l;
      b->count -= l;
      return t.values[(code + t.valoffset[l]) & 0xFF];
    }
  }
  return -1;
}

// RECEIVE and EXTEND: the next s bits as a signed value.
inline int32_t EntropyDecoder::Receive(Bits* b, int32_t s) {
  const int32_t v = int32_t(b->acc >> (64 - s));
  b->acc <<= s;
  b->count -= s;
  return Extend(v, s);
}

// Block i of the MCU into block (zeroed), its component's DC prediction
// in *prediction.
inline bool EntropyDecoder::DecodeBlock(Bits* b, int32_t i, int32_t* prediction, int16_t* block) {
  // A code and its extra bits take at most 31 bits.
  if (b->count < 32) Refill(b);
  const int32_t s = DecodeSymbol(b, scan_.dc[scan_.dcTable[i]]);
  if (s < 0 || s > 15) return false;
  const int32_t dc = *prediction + (s != 0 ? Receive(b, s) : 0);
  if (dc > kMaxDc || dc < -kMaxDc) return false;
  *prediction = dc;
  block[0] = int16_t(dc);
  const HuffmanTable& ac = scan_.ac[scan_.acTable[i]];
  const bool kept = scan_.acKept[i];
  for (int32_t k = 1; k < 64; ++k) {
    if (b->count < 32) Refill(b);
    const int32_t fast = ac.fastAc[b->acc >> (64 - kHuffmanLookahead)];
    if (fast != 0) {  // a short code with a small coefficient
      k += (fast >> 4) & 15;
      b->acc <<= fast & 15;
      b->count -= fast & 15;
      if (kept) block[kNaturalOrder[k]] = int16_t(fast >> 8);
      continue;
    }
    const int32_t rs = DecodeSymbol(b, ac);
    if (rs < 0) return false;
    const int32_t run = rs >> 4, size = rs & 15;
    if (size == 0) {
      if (run != 15) break;  // end of block
      k += 15;
      continue;
    }
    k += run;
    const int32_t v = Receive(b, size);
    if (kept) block[kNaturalOrder[k]] = int16_t(v);
  }
  return true;
}

bool EntropyDecoder::DecodeMcu(int16_t* blocks) {
  Bits b = bits_;
  int32_t prediction[4];
  std::memcpy(prediction, prediction_, sizeof prediction);
  std::memset(blocks, 0, sizeof(int16_t) * kBlockCoefficients * size_t(scan_.blocksInMcu));
  for (int32_t i = 0; i < scan_.blocksInMcu; ++i) {
    if (!DecodeBlock(&b, i, &prediction[scan_.component[i]], blocks + i * kBlockCoefficients)) {
      return false;
    }
  }
  if (b.count < b.pad) return false;  // the MCU took bits the data did not have
  bits_ = b;
  std::memcpy(prediction_, prediction, sizeof prediction);
  return true;
}

bool EntropyDecoder::EndsAtEndMarker() {
  if (bits_.count - bits_.pad >= 8) return false;  // whole bytes the scan left unused
  uint8_t byte = 0;
  if (!RawByte(&byte) || byte != 0xFF) return false;
  do {
    if (!RawByte(&byte)) return false;
  } while (byte == 0xFF);
  return byte == 0xD9;
}
