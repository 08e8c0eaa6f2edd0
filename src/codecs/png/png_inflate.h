// The image data of a PNG file inflated with ISA-L, several times faster
// than zlib, while libpng goes on doing the rest: unfiltering, expanding,
// interlacing. libpng reads its image data through Read, which shows it
// the inflated bytes again as a zlib stream of stored blocks, in chunks of
// its own. zlib copies stored blocks, so libpng's checksums are turned off
// (the caller's part) and the file's are checked here instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class IdatInflater {
 public:
  // Reads bytes of the file at the reader's position: false on a read
  // error or past the end of what the reader may show.
  using SourceRead = bool (*)(void* source, uint8_t* out, size_t bytes);

  // The reader has just passed the header of the first image data chunk,
  // firstLength bytes long. Throws std::bad_alloc.
  IdatInflater(SourceRead read, void* source, uint32_t firstLength);
  ~IdatInflater();
  IdatInflater(const IdatInflater&) = delete;
  IdatInflater& operator=(const IdatInflater&) = delete;

  // The next bytes of the chunks libpng is shown instead of the file's image
  // data chunks. False when the file's image data is damaged, cut short or
  // unreadable: a broken checksum, a broken stream, or fewer chunks than the
  // stream needs.
  bool Read(uint8_t* out, size_t bytes);

 private:
  bool NextSegment();
  bool Inflate(uint8_t* out, size_t capacity, size_t* produced);
  bool Refill();
  bool EndChunk();
  bool FinishLastChunk();

  enum class Payload { kHeader, kBlocks, kDone };
  enum class Frame { kData, kChecksum, kHeader };

  SourceRead read_;
  void* source_;
  // The file's side.
  struct Isal;
  std::unique_ptr<Isal> isal_;
  std::vector<uint8_t> input_;
  uint64_t chunkLeft_;  // data bytes of the current chunk not yet read
  uint32_t crc_;        // of the current chunk so far
  uint8_t zlibHeader_[2] = {};
  int zlibHeaderBytes_ = 0;
  bool needInput_ = true;
  bool ended_ = false;  // the stream's end and its chunk's checksum are read
  // libpng's side: the stream shown, and the chunks around it.
  Payload payload_ = Payload::kHeader;
  std::vector<uint8_t> segment_;  // the next bytes of the stream shown
  size_t segmentAt_ = 0;
  size_t segmentEnd_ = 0;
  Frame frame_ = Frame::kData;
  uint64_t frameLeft_;  // data bytes left in the chunk shown
  uint8_t frameBytes_[8] = {};
  size_t frameAt_ = 0;
};
