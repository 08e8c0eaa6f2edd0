// Small PNG files written and read with libpng directly, so that the
// driver's tests neither make their inputs nor judge their outputs with the
// program's own codecs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace test {

struct PngPixels {
  int32_t width = 0;
  int32_t height = 0;
  int32_t bitDepth = 8;           // 8 or 16
  int32_t channels = 4;           // 3 (RGB) or 4 (RGBA)
  std::vector<uint16_t> samples;  // row by row, channel by channel
  std::vector<uint8_t> icc;       // written as iCCP when not empty
  bool interlaced = false;        // written Adam7-interlaced

  const uint16_t* At(int32_t row, int32_t column) const {
    return samples.data() + (size_t(row) * size_t(width) + size_t(column)) * size_t(channels);
  }
};

// Distinct samples at every position, opaque alpha.
PngPixels MakeTestPattern(int32_t width, int32_t height, int32_t bitDepth, int32_t channels);

bool WritePng(const std::filesystem::path& path, const PngPixels& pixels);
// False when the file is no PNG libpng can read.
bool ReadPng(const std::filesystem::path& path, PngPixels* pixels);

}  // namespace test
