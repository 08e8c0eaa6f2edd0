// The image data of a PNG file: rows filtered as libpng would choose them
// (the filter whose bytes sum smallest as signed values) and compressed in
// strips of rows, two strips at a time on two threads. Each strip ends on a
// byte boundary, so that the strips together are one zlib stream.
//
// Two compressors, both faster than zlib: ISA-L, several times faster and
// as tight as zlib's level 6 on noisy data, starting each strip from the
// previous one's last 32 KB; and libdeflate, tighter than zlib at the same
// level on smooth data, whose strips start afresh. The first strip is
// compressed both ways and the smaller one's compressor does the rest, so
// the choice depends on the image alone.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/mac_types.h"
#include "stream/byte_sink.h"

class IdatCompressor {
 public:
  // rowBytes: bytes of one packed row (without the filter byte); bytes
  // per pixel as the filters count them (at least 1). The IDAT chunks are
  // appended to *file as strips are done.
  IdatCompressor(int64_t rowBytes, int bytesPerPixel, int level, ByteSink* file);
  ~IdatCompressor();
  IdatCompressor(const IdatCompressor&) = delete;
  IdatCompressor& operator=(const IdatCompressor&) = delete;

  // Filters one packed row and queues it; rows come top to bottom.
  OSErr AddRow(const uint8_t* packedRow);
  // Ends the stream: its last chunks, checksum and all, are in the file.
  OSErr Finish();

  enum class Encoder { kUndecided, kIsal, kLibdeflate };
  struct Encoders;  // one thread's compressors

 private:
  struct Strip;
  OSErr FlushStrip(bool last);
  OSErr Collect(Strip* strip);
  OSErr AppendChunk(const uint8_t* prefix, size_t prefixBytes, const uint8_t* data, size_t bytes);

  int64_t rowBytes_;
  int bytesPerPixel_;
  int level_;
  std::vector<uint8_t> previousRow_;
  std::vector<uint8_t> candidates_;
  std::unique_ptr<Strip> filling_;
  std::unique_ptr<Strip> inFlight_;  // being compressed on the other thread
  std::vector<uint8_t> dictionary_;  // the last 32 KB before the strip filling
  ByteSink* file_;
  Encoder encoder_ = Encoder::kUndecided;
  std::unique_ptr<Encoders> encoders_[2];  // this thread's, the other thread's
  bool started_ = false;                   // the zlib header is out
  uint32_t adler_;
  bool failed_ = false;
};
