// Warnings a decoder's library gives about data it could only partly read
// and decoded anyway: libjpeg's "Corrupt JPEG data: ...", libpng's chunks
// it skipped ("tEXt: CRC error"), libtiff's complaints while decoding
// strips and tiles. An importer collects them around one drawing, into its
// own list; the codecs' warning callbacks, which their libraries call on
// the drawing thread, note them there. Outside a collection (reading a
// header, a profile) nothing is kept. Nothing here prints or throws.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// At most this many distinct texts are kept for one drawing; a damaged
// file may repeat its complaint for every block.
constexpr size_t kMaxDecodeWarnings = 16;

class DecodeWarningCollection {
 public:
  // Notes on this thread go into `into` until the collection ends.
  explicit DecodeWarningCollection(std::vector<std::string>* into);
  ~DecodeWarningCollection();
  DecodeWarningCollection(const DecodeWarningCollection&) = delete;
  DecodeWarningCollection& operator=(const DecodeWarningCollection&) = delete;

 private:
  std::vector<std::string>* previous_;
};

// Keeps text (trailing full stops and white space trimmed) in the
// collection open on this thread, once, up to kMaxDecodeWarnings.
void NoteDecodeWarning(std::string_view text);
