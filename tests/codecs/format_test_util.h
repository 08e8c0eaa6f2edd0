// Helpers for the TIFF, WebP, GIF and HEIF codec tests: the committed files
// under tests/data/formats and their reference pixels.
#pragma once

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "codecs/codec_test_util.h"
#include "platform/codec.h"
#include "test_support.h"

namespace test {

// A giflib writer whose bytes are appended to *out.
inline GifFileType* OpenGifWriter(std::vector<uint8_t>* out, int* error) {
  return EGifOpen(
      out,
      [](GifFileType* g, const GifByteType* data, int n) {
        auto* bytes = static_cast<std::vector<uint8_t>*>(g->UserData);
        bytes->insert(bytes->end(), data, data + n);
        return n;
      },
      error);
}

inline std::vector<uint8_t> FormatFile(const std::string& name) {
  return ReadFileBytes(DataPath("formats/" + name));
}

inline ByteSpan Span(const std::vector<uint8_t>& v) {
  return ByteSpan(v.data(), v.size());
}

// A reference picture as 8-bit A, R, G, B (opaque unless it has alpha).
struct Reference {
  int32_t width = 0, height = 0;
  std::vector<uint32_t> argb;
  uint32_t At(int32_t x, int32_t y) const { return argb[size_t(y) * size_t(width) + size_t(x)]; }
};

// Reads the binary PPM (P6), PGM (P5) and PAM (P7, RGB_ALPHA) files that
// the test files were made from.
inline Reference ReadNetpbm(const std::string& name) {
  std::vector<uint8_t> bytes = FormatFile(name);
  std::string text(bytes.begin(), bytes.end());
  std::istringstream in(text);
  std::string magic;
  in >> magic;
  Reference ref;
  int channels = 3;
  if (magic == "P7") {
    std::string key;
    while (in >> key && key != "ENDHDR") {
      if (key == "WIDTH") in >> ref.width;
      if (key == "HEIGHT") in >> ref.height;
      if (key == "DEPTH") in >> channels;
      if (key != "WIDTH" && key != "HEIGHT" && key != "DEPTH") in.ignore(1000, '\n');
    }
  } else {
    int maxval = 0;
    in >> ref.width >> ref.height >> maxval;
    channels = magic == "P5" ? 1 : 3;
  }
  const size_t start = size_t(in.tellg()) + 1;
  for (int64_t i = 0; i < int64_t(ref.width) * ref.height; ++i) {
    const uint8_t* p = bytes.data() + start + size_t(i) * channels;
    uint32_t r = p[0], g = channels >= 3 ? p[1] : p[0], b = channels >= 3 ? p[2] : p[0];
    uint32_t a = channels == 4 ? p[3] : 255;
    ref.argb.push_back(Argb(a, r, g, b));
  }
  return ref;
}

// Pixels of an ARGB buffer that differ from the reference.
inline int64_t Mismatches(const GWorld& image, const Reference& ref) {
  int64_t count = 0;
  for (int32_t y = 0; y < ref.height; ++y) {
    for (int32_t x = 0; x < ref.width; ++x) count += ArgbAt(image, x, y) != ref.At(x, y);
  }
  return count;
}

// PSNR over R, G and B against the reference.
inline double PsnrAgainst(const GWorld& image, const Reference& ref) {
  OwnedGWorld expected = MakeGWorld(k32ARGBPixelFormat, ref.width, ref.height);
  for (int32_t y = 0; y < ref.height; ++y) {
    for (int32_t x = 0; x < ref.width; ++x) SetArgb(*expected, x, y, ref.At(x, y));
  }
  return RgbPsnr(*expected, image);
}

// Runs f and returns what was written to the standard error meanwhile
// (the file descriptor, so that C libraries are caught too).
inline std::string StderrOf(const std::function<void()>& f) {
  testing::internal::CaptureStderr();
  f();
  return testing::internal::GetCapturedStderr();
}

// The file cut to its first `fraction` of bytes.
inline std::vector<uint8_t> Truncated(std::vector<uint8_t> file, double fraction) {
  file.resize(size_t(double(file.size()) * fraction));
  return file;
}

}  // namespace test
