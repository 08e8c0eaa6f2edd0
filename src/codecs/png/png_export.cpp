// PNG exporter: 8-bit grey, RGB or RGBA from 8-bit buffers, and 16-bit RGB
// or RGBA from "b48r" and "b64a" buffers. libpng writes the chunks; the
// image data is filtered and compressed on two threads (png_idat.h), its
// strips passed on to the sink as they are done.
#include <algorithm>
#include <new>
#include <vector>

#include "codecs/common/begin_export.h"
#include "codecs/common/buffer_rows.h"
#include "codecs/common/encoded_bytes.h"
#include "codecs/common/row_packer.h"
#include "codecs/png/png_codec.h"
#include "codecs/png/png_idat.h"

namespace {

// zlib's default level, libpng's and the peers' default too.
constexpr int kCompressionLevel = 6;

// Plain state that the guarded function shares; no destructors.
struct PngWriteState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ByteSink* out = nullptr;
  OSErr sinkError = noErr;
};

// Owns libpng's write structures.
struct PngWriteHandle {
  PngWriteState state;
  ~PngWriteHandle() {
    if (state.png != nullptr) png_destroy_write_struct(&state.png, &state.info);
  }
};

void WriteToSink(png_structp png, png_bytep data, size_t length) {
  auto* state = static_cast<PngWriteState*>(png_get_io_ptr(png));
  state->sinkError = state->out->Append(data, length);
  if (state->sinkError != noErr) png_error(png, "cannot write");
}

void FlushNothing(png_structp) {}

struct PngTarget {
  RowLayout layout = RowLayout::kRGB8;
  int bitDepth = 8;
  int colorType = PNG_COLOR_TYPE_RGB;
};

PngTarget ChooseTarget(RowBand& image, int32_t depth) {
  const bool sixteen = IsSixteenBitFormat(image.PixelFormat());
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

// Guarded: the signature and every chunk before the image data.
bool WriteHeaderGuarded(PngWriteState* state, const PngTarget& target, png_uint_32 width,
                        png_uint_32 height) {
  png_structp png = state->png;
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, state, WriteToSink, FlushNothing);
  png_set_IHDR(png, state->info, width, height, target.bitDepth, target.colorType,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, state->info);
  return true;
}

// Packs, filters and compresses every row into IDAT chunks at the end of
// file, then ends it. Rows are read as they are finished when another
// thread is still filling the buffer.
OSErr WriteImageData(RowBand& image, const PngTarget& target, RowPacker* packer, ByteSink* file) {
  const int64_t width = BufferWidth(image);
  const int64_t rowBytes = width * BytesPerPixel(target.layout);
  std::vector<uint8_t> row;
  try {
    row.resize(size_t(rowBytes));
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  IdatCompressor compressor(rowBytes, int(BytesPerPixel(target.layout)), kCompressionLevel, file);
  for (int64_t y = 0; y < BufferHeight(image); ++y) {
    if (OSErr err = packer->Pack(y, row.data())) return err;
    if (OSErr err = compressor.AddRow(row.data())) return err;
  }
  if (OSErr err = compressor.Finish()) return err;
  static const uint8_t kEnd[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  return file->Append(kEnd, 12);
}

OSErr EncodePng(const ExportRequest& request, ByteSink* out) {
  ExportImage begun;
  if (OSErr err = BeginExport(request, out, INT64_MAX, &begun)) return err;
  RowBand& image = *begun.rows;
  const int64_t width = begun.width;
  const int64_t height = begun.height;
  const PngTarget target = ChooseTarget(image, request.depth);
  RowPacker packer;
  if (OSErr err = packer.Prepare(image, target.layout)) return err;
  if (std::vector<uint8_t>* memory = out->Memory()) {
    memory->clear();
    ReserveEncodedBytes(memory, width * height * BytesPerPixel(target.layout));
  }
  PngWriteHandle handle;
  PngWriteState& state = handle.state;
  state.out = out;
  state.png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngSilentError, PngSilentWarning);
  if (state.png == nullptr) return memFullErr;
  state.info = png_create_info_struct(state.png);
  if (state.info == nullptr) return memFullErr;
  if (!WriteHeaderGuarded(&state, target, png_uint_32(width), png_uint_32(height))) {
    return state.sinkError != noErr ? state.sinkError : codecErr;
  }
  return WriteImageData(image, target, &packer, out);
}

}  // namespace

const ExporterCodec kPngExporter = {
    .format = &kPngFormat,
    .name = PngCodecName,
    .encode = EncodePng,
};
