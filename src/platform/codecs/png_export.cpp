// PNG exporter over libpng: 8-bit grey, RGB or RGBA from 8-bit buffers, and
// 16-bit RGB or RGBA from "b48r" and "b64a" buffers.
#include <new>
#include <vector>

#include "platform/codecs/export_rows.h"
#include "platform/codecs/png_codec.h"

namespace {

constexpr int kCompressionLevel = 6;

// Plain state that the guarded function shares; no destructors.
struct PngWriteState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::vector<uint8_t>* out = nullptr;
  bool outOfMemory = false;
};

// Owns libpng's write structures.
struct PngWriteHandle {
  PngWriteState state;
  ~PngWriteHandle() {
    if (state.png != nullptr) png_destroy_write_struct(&state.png, &state.info);
  }
};

void WriteToMemory(png_structp png, png_bytep data, size_t length) {
  auto* state = static_cast<PngWriteState*>(png_get_io_ptr(png));
  try {
    state->out->insert(state->out->end(), data, data + length);
  } catch (const std::bad_alloc&) {
    state->outOfMemory = true;
  }
  // Outside the handler: the jump must not leave a caught exception behind.
  if (state->outOfMemory) png_error(png, "out of memory");
}

void FlushMemory(png_structp) {}

struct PngTarget {
  RowLayout layout = RowLayout::kRGB8;
  int bitDepth = 8;
  int colorType = PNG_COLOR_TYPE_RGB;
};

PngTarget ChooseTarget(const GWorld& image, int32_t depth) {
  const bool sixteen = IsSixteenBitFormat(image.pixMap.pixelFormat);
  switch (ChannelsForDepth(depth)) {
    case ExportChannels::kGrey:
      return {RowLayout::kGrey8, 8, PNG_COLOR_TYPE_GRAY};
    case ExportChannels::kColourAlpha:
      if (sixteen) return {RowLayout::kRGBA16, 16, PNG_COLOR_TYPE_RGB_ALPHA};
      return {RowLayout::kRGBA8, 8, PNG_COLOR_TYPE_RGB_ALPHA};
    case ExportChannels::kColour:
      break;
  }
  if (sixteen) return {RowLayout::kRGB16, 16, PNG_COLOR_TYPE_RGB};
  return {RowLayout::kRGB8, 8, PNG_COLOR_TYPE_RGB};
}

// Guarded: writes the whole file, one packed row at a time.
bool WriteGuarded(PngWriteState* state, const PngTarget& target, RowPacker* packer,
                  png_uint_32 width, png_uint_32 height, uint8_t* row) {
  png_structp png = state->png;
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, state, WriteToMemory, FlushMemory);
  png_set_IHDR(png, state->info, width, height, target.bitDepth, target.colorType,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, kCompressionLevel);
  png_write_info(png, state->info);
  for (png_uint_32 y = 0; y < height; ++y) {
    packer->Pack(y, row);
    png_write_row(png, row);
  }
  png_write_end(png, nullptr);
  return true;
}

OSErr EncodePng(const ExportRequest& request, std::vector<uint8_t>* out) {
  if (request.image == nullptr || request.image->pixMap.baseAddr == nullptr || out == nullptr) {
    return paramErr;
  }
  const GWorld& image = *request.image;
  const int64_t width = BufferWidth(image);
  const int64_t height = BufferHeight(image);
  if (width < 1 || height < 1) return paramErr;
  const PngTarget target = ChooseTarget(image, request.depth);
  RowPacker packer;
  if (OSErr err = packer.Prepare(image, target.layout)) return err;
  std::vector<uint8_t> row;
  try {
    row.resize(size_t(width * BytesPerPixel(target.layout)));
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }

  out->clear();
  PngWriteHandle handle;
  PngWriteState& state = handle.state;
  state.out = out;
  state.png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngSilentError, PngSilentWarning);
  if (state.png == nullptr) return memFullErr;
  state.info = png_create_info_struct(state.png);
  if (state.info == nullptr) return memFullErr;
  if (!WriteGuarded(&state, target, &packer, png_uint_32(width), png_uint_32(height), row.data())) {
    out->clear();
    return state.outOfMemory ? memFullErr : codecErr;
  }
  return noErr;
}

}  // namespace

const ExporterCodec kPngExporter = {
    FourCC("PNG "), FourCC("png "), PngCodecName, EncodePng, true,
};
