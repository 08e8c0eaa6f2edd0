#include "png_files.h"

#include <png.h>

#include <cstdio>
#include <memory>

namespace test {

namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

}  // namespace

PngPixels MakeTestPattern(int32_t width, int32_t height, int32_t bitDepth, int32_t channels) {
  PngPixels p{width, height, bitDepth, channels, {}, {}};
  const uint32_t range = bitDepth == 16 ? 65536u : 256u;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      for (int32_t c = 0; c < channels; ++c) {
        const bool alpha = channels == 4 && c == 3;
        const uint32_t v = (uint32_t(y) * 37u + uint32_t(x) * 11u + uint32_t(c) * 89u) * 257u;
        p.samples.push_back(uint16_t(alpha ? range - 1 : v % range));
      }
  return p;
}

bool WritePng(const std::filesystem::path& path, const PngPixels& pixels) {
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  const size_t sampleBytes = pixels.bitDepth == 16 ? 2 : 1;
  const size_t rowBytes = size_t(pixels.width) * size_t(pixels.channels) * sampleBytes;
  std::vector<png_byte> rows(rowBytes * size_t(pixels.height));
  for (size_t i = 0; i < pixels.samples.size(); ++i) {
    if (sampleBytes == 2) {
      rows[2 * i] = png_byte(pixels.samples[i] >> 8);
      rows[2 * i + 1] = png_byte(pixels.samples[i]);
    } else {
      rows[i] = png_byte(pixels.samples[i]);
    }
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, png_uint_32(pixels.width), png_uint_32(pixels.height), pixels.bitDepth,
               pixels.channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
               pixels.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!pixels.icc.empty()) {
    png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, pixels.icc.data(),
                 png_uint_32(pixels.icc.size()));
  }
  png_write_info(png, info);
  const int passes = pixels.interlaced ? png_set_interlace_handling(png) : 1;
  for (int pass = 0; pass < passes; ++pass) {
    for (int32_t y = 0; y < pixels.height; ++y) png_write_row(png, &rows[size_t(y) * rowBytes]);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

bool ReadPng(const std::filesystem::path& path, PngPixels* pixels) {
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_init_io(png, file.get());
  png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  pixels->width = int32_t(png_get_image_width(png, info));
  pixels->height = int32_t(png_get_image_height(png, info));
  pixels->bitDepth = png_get_bit_depth(png, info);
  pixels->channels = png_get_channels(png, info);
  png_bytepp rows = png_get_rows(png, info);
  pixels->samples.clear();
  const size_t perRow = size_t(pixels->width) * size_t(pixels->channels);
  for (int32_t y = 0; y < pixels->height; ++y)
    for (size_t i = 0; i < perRow; ++i) {
      pixels->samples.push_back(pixels->bitDepth == 16
                                    ? uint16_t((rows[y][2 * i] << 8) | rows[y][2 * i + 1])
                                    : uint16_t(rows[y][i]));
    }
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

}  // namespace test
