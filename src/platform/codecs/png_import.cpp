// PNG importer over libpng: every colour type and depth, interlaced or not,
// drawn into 32-bit ARGB, "b48r" or "b64a". 16-bit images say which of the
// 16-bit formats keeps all they hold.
#include <bit>
#include <cstring>
#include <new>
#include <vector>

#include "platform/codecs/export_rows.h"
#include "platform/codecs/png_chunks.h"
#include "platform/codecs/png_codec.h"
#include "platform/memory_limit.h"

namespace {

// Bounds on what ancillary chunks may cost: how many are kept, and how
// large one may grow when its compressed text or profile is expanded.
constexpr png_uint_32 kMaxAncillaryChunks = 1000;
constexpr png_alloc_size_t kMaxChunkBytes = 8000000;

// Wider rows than this cannot be held at 8 bytes a pixel within a buffer's
// 32-bit row stride.
constexpr png_uint_32 kMaxPngDimension = 0x7FFFFFF0 / 8;

bool SniffPng(ByteSpan file) {
  return file.size() >= 8 && png_sig_cmp(file.data(), 0, 8) == 0;
}

// Plain state that the guarded functions share; no destructors.
struct PngReadState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t position = 0;
};

// Owns libpng's read structures.
struct PngReadHandle {
  PngReadState state;
  ~PngReadHandle() {
    if (state.png != nullptr) png_destroy_read_struct(&state.png, &state.info, nullptr);
  }
};

void ReadFromMemory(png_structp png, png_bytep out, size_t length) {
  auto* state = static_cast<PngReadState*>(png_get_io_ptr(png));
  if (length > state->size - state->position) png_error(png, "truncated");
  std::memcpy(out, state->data + state->position, length);
  state->position += length;
}

OSErr CreateReader(ByteSpan file, PngReadHandle* handle) {
  PngReadState& state = handle->state;
  state.png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngSilentError, PngSilentWarning);
  if (state.png == nullptr) return memFullErr;
  state.info = png_create_info_struct(state.png);
  if (state.info == nullptr) return memFullErr;
  const ByteSpan shown = PngCompleteChunks(file);
  state.data = shown.data();
  state.size = shown.size();
  return noErr;
}

// Guarded: reads the chunks up to the image data.
bool ReadInfoGuarded(PngReadState* state) {
  if (setjmp(png_jmpbuf(state->png))) return false;
  png_set_read_fn(state->png, state, ReadFromMemory);
  // The format's own limit; sizes we cannot hold are refused below with
  // memFullErr instead of a decoding error.
  png_set_user_limits(state->png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  png_set_chunk_cache_max(state->png, kMaxAncillaryChunks);
  png_set_chunk_malloc_max(state->png, kMaxChunkBytes);
  png_read_info(state->png, state->info);
  return true;
}

struct PngLayout {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 0;
  int colorType = 0;
  bool hasAlpha = false;  // an alpha channel or a transparent colour (tRNS)
};

OSErr ReadLayout(ByteSpan file, PngReadHandle* handle, PngLayout* layout) {
  if (OSErr err = CreateReader(file, handle)) return err;
  PngReadState& state = handle->state;
  if (!ReadInfoGuarded(&state)) return codecErr;
  layout->width = png_get_image_width(state.png, state.info);
  layout->height = png_get_image_height(state.png, state.info);
  layout->bitDepth = png_get_bit_depth(state.png, state.info);
  layout->colorType = png_get_color_type(state.png, state.info);
  layout->hasAlpha = (layout->colorType & PNG_COLOR_MASK_ALPHA) != 0 ||
                     png_get_valid(state.png, state.info, PNG_INFO_tRNS) != 0;
  if (layout->width > kMaxPngDimension || layout->height > kMaxPngDimension) return memFullErr;
  return noErr;
}

// 16-bit images keep their samples in "b48r" or "b64a"; a transparent colour
// counts as alpha, so that it is not lost.
OSType PreferredFormat(const PngLayout& layout) {
  if (layout.bitDepth != 16) return 0;
  const bool grey = (layout.colorType & PNG_COLOR_MASK_COLOR) == 0;
  if (layout.hasAlpha) return grey ? k32AlphaGrayCodecType : k64ARGBPixelFormat;
  return grey ? k16GrayCodecType : k48RGBCodecType;
}

OSErr ReadPngHeader(ByteSpan file, ImageHeader* header) {
  PngReadHandle handle;
  PngLayout layout;
  if (OSErr err = ReadLayout(file, &handle, &layout)) return err;
  header->width = int32_t(layout.width);
  header->height = int32_t(layout.height);
  header->preferredPixelFormat = PreferredFormat(layout);
  return noErr;
}

// Guarded: asks libpng for rows in the buffer's layout. Everything is first
// expanded to 8 or 16-bit RGB (palette, low depths, grey, tRNS).
bool ConfigureGuarded(PngReadState* state, OSType pixelFormat, bool hasAlpha) {
  png_structp png = state->png;
  if (setjmp(png_jmpbuf(png))) return false;
  constexpr bool kLittleEndian = std::endian::native == std::endian::little;
  png_set_expand(png);
  png_set_gray_to_rgb(png);
  if (pixelFormat == k32ARGBPixelFormat) {
    png_set_scale_16(png);                // rounds to nearest, (v * 255 + 32767) / 65535
    if (kLittleEndian) png_set_bgr(png);  // B, G, R, A in memory
    if (!hasAlpha) {
      png_set_filler(png, 0xFF, kLittleEndian ? PNG_FILLER_AFTER : PNG_FILLER_BEFORE);
    } else if (!kLittleEndian) {
      png_set_swap_alpha(png);
    }
  } else if (pixelFormat == k48RGBCodecType) {
    png_set_strip_alpha(png);
    png_set_expand_16(png);
  } else {  // "b64a": A, R, G, B, 16 bits each, most significant byte first
    png_set_expand_16(png);
    if (hasAlpha) {
      png_set_swap_alpha(png);
    } else {
      png_set_filler(png, 0xFFFF, PNG_FILLER_BEFORE);
    }
  }
  png_set_interlace_handling(png);
  png_read_update_info(png, state->info);
  return true;
}

// Guarded: decodes every row (all passes of an interlaced image).
bool ReadImageGuarded(PngReadState* state, png_bytepp rows) {
  if (setjmp(png_jmpbuf(state->png))) return false;
  png_read_image(state->png, rows);
  return true;
}

OSErr DrawPng(ByteSpan file, GWorld* dst) {
  if (dst == nullptr || dst->pixMap.baseAddr == nullptr) return paramErr;
  const OSType format = dst->pixMap.pixelFormat;
  if (format != k32ARGBPixelFormat && format != k48RGBCodecType && format != k64ARGBPixelFormat) {
    return cDepthErr;
  }
  PngReadHandle handle;
  PngLayout layout;
  if (OSErr err = ReadLayout(file, &handle, &layout)) return err;
  if (layout.width != BufferWidth(*dst) || layout.height != BufferHeight(*dst)) return paramErr;
  PngReadState& state = handle.state;
  if (!ConfigureGuarded(&state, format, layout.hasAlpha)) return codecErr;
  const size_t rowBytes = size_t(layout.width) * size_t(dst->pixMap.pixelSize / 8);
  if (png_get_rowbytes(state.png, state.info) != rowBytes) return codecErr;

  std::vector<png_bytep> rows;
  if (!WorkingBytesFit(layout.height, sizeof(png_bytep))) return memFullErr;
  try {
    rows.resize(layout.height);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  for (png_uint_32 y = 0; y < layout.height; ++y) rows[y] = BufferRow(*dst, y);
  if (!ReadImageGuarded(&state, rows.data())) return codecErr;
  return noErr;
}

}  // namespace

const ImporterCodec kPngImporter = {
    FourCC("PNG "), PngCodecName, SniffPng, ReadPngHeader, DrawPng, nullptr,
};
