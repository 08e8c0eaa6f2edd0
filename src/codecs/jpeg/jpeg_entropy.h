// A baseline Huffman entropy decoder of our own, written from the JPEG
// standard (ITU T.81 F.2.2: DECODE, RECEIVE, EXTEND, and the byte stuffing
// of 0xFF as 0xFF 0x00), for one sequential scan without restart intervals.
//
// It is exact or it stops. Every block it gives holds the coefficients
// libjpeg-turbo's own decoder would give from the same tables and bytes;
// where that decoder would have to improvise (a code no table holds, bits
// wanted past a marker or past the end of the data, a DC sum far out of
// range), this one stops at the MCU before and says so, and the caller
// decodes the file serially instead. Only valid tables reach it: libjpeg
// has checked them (and refused bad ones) before the scan starts.
#pragma once

#include <cstdint>
#include <vector>

#include "codecs/jpeg/jpeg_restarts.h"

// Bits of code looked up at once; longer codes are read on bit by bit.
constexpr int kHuffmanLookahead = 9;

// One table's canonical codes (figures C.1, C.2 and F.15 of the standard).
struct HuffmanTable {
  // For each value of the next kHuffmanLookahead bits: the length of the
  // code they begin with (0 when it is longer) times 256 plus its symbol.
  uint16_t fast[1 << kHuffmanLookahead] = {};
  // For an AC table, where the code and its extra bits both fit in those
  // bits: the coefficient times 256, plus its run times 16, plus the bits
  // taken; else 0.
  int32_t fastAc[1 << kHuffmanLookahead] = {};
  int32_t maxcode[18] = {};    // the largest code of each length, -1 for none
  int32_t valoffset[18] = {};  // its symbol's index minus the smallest code
  uint8_t values[256] = {};
};

// Builds t from the counts of codes of each length (bits[1..16]) and the
// symbols. False where the counts make no code.
bool BuildHuffmanTable(const uint8_t bits[17], const uint8_t values[256], HuffmanTable* t);

// The most blocks an MCU holds in a baseline scan.
constexpr int kMaxBlocksInMcu = 10;

// The scan as the decoder needs it, copied out of libjpeg's decompress
// object before the decoder starts on its own thread.
struct EntropyScan {
  int32_t blocksInMcu = 0;
  uint8_t component[kMaxBlocksInMcu] = {};  // of the scan, for the DC prediction
  uint8_t dcTable[kMaxBlocksInMcu] = {};
  uint8_t acTable[kMaxBlocksInMcu] = {};
  bool acKept[kMaxBlocksInMcu] = {};  // false: AC decoded and dropped (1/8 scale)
  HuffmanTable dc[4];
  HuffmanTable ac[4];
  int64_t mcus = 0;  // in the scan
};

// Coefficients of a block: 64, in natural order.
constexpr int kBlockCoefficients = 64;

class EntropyDecoder {
 public:
  // The scan's data starts at byte scanStart of file.
  EntropyDecoder(const EntropyScan& scan, const JpegBytes& file, uint64_t scanStart);

  // Writes the next MCU's blocks to blocks (blocksInMcu of them, one after
  // another), every coefficient: those of the ACs dropped as zero, as
  // libjpeg leaves them. False where libjpeg's decoder would not decode the
  // MCU plainly (see the file's head).
  bool DecodeMcu(int16_t* blocks);
  // After the last MCU: whether only 0xFF fill and the end-of-image marker
  // follow, so that libjpeg would read on to the end without a word.
  bool EndsAtEndMarker();

 private:
  // Bits not yet used, from the top; count includes pad, the zero bits put
  // in once the data stopped (at a marker, or at its end). 64-bit counts:
  // stores of coefficients cannot alias them.
  struct Bits {
    uint64_t acc = 0;
    int64_t count = 0;
    int64_t pad = 0;
  };
  void Refill(Bits* b);
  Bits RefillSlowly(Bits b);
  static int32_t DecodeSymbol(Bits* b, const HuffmanTable& t);
  static int32_t Receive(Bits* b, int32_t s);
  bool DecodeBlock(Bits* b, int32_t i, int32_t* prediction, int16_t* block);
  bool RawByte(uint8_t* byte);
  bool LoadWindow();

  const EntropyScan& scan_;
  const JpegBytes file_;
  uint64_t fileNext_ = 0;  // the file's next byte not in the window
  std::vector<uint8_t> window_;
  const uint8_t* next_ = nullptr;
  const uint8_t* end_ = nullptr;
  bool stopped_ = false;  // next_ is at a marker, or the data ended
  Bits bits_;
  int32_t prediction_[4] = {};
};
