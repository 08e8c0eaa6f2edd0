// PNG importer over libpng: every colour type and depth, interlaced or not,
// drawn into 32-bit ARGB, "b48r" or "b64a". 16-bit images say which of the
// 16-bit formats keeps all they hold.
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "base/big_endian.h"
#include "codecs/common/buffer_rows.h"
#include "codecs/common/import_rows.h"
#include "codecs/png/png_chunks.h"
#include "codecs/png/png_codec.h"
#include "codecs/png/png_inflate.h"
#include "platform/decode_warnings.h"

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

// The file is read from memory, or from an open file through a window of
// kFileWindowBytes; either way only its first size bytes are shown.
constexpr size_t kFileWindowBytes = 64 * 1024;

// Plain state that the guarded functions share; no destructors.
struct PngReadState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  const uint8_t* data = nullptr;  // the file, or the window onto it
  uint64_t size = 0;
  uint64_t position = 0;
  int fd = -1;               // -1: data holds the whole file
  uint64_t windowStart = 0;  // the file offset of data[0]
  size_t windowSize = 0;
  IdatInflater* imageData = nullptr;  // serves libpng the image data, once set
};

// Owns libpng's read structures and the file window.
struct PngReadHandle {
  PngReadState state;
  std::vector<uint8_t> window;
  std::unique_ptr<IdatInflater> imageData;
  ~PngReadHandle() {
    if (state.png != nullptr) png_destroy_read_struct(&state.png, &state.info, nullptr);
  }
};

// Moves the window to start at the read position; false on a read error or
// when the file has shrunk below what it showed.
bool RefillWindow(PngReadState* state) {
  const size_t want = size_t(std::min<uint64_t>(kFileWindowBytes, state->size - state->position));
  auto* window = const_cast<uint8_t*>(state->data);
  size_t done = 0;
  while (done < want) {
    const ssize_t n = ::pread(state->fd, window + done, want - done, off_t(state->position + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  state->windowStart = state->position;
  state->windowSize = done;
  return true;
}

// False on a read error or past what libpng may be shown.
bool ReadSource(PngReadState* state, uint8_t* out, size_t length) {
  if (length > state->size - state->position) return false;
  if (state->fd < 0) {
    std::memcpy(out, state->data + state->position, length);
    state->position += length;
    return true;
  }
  while (length > 0) {
    if (state->position >= state->windowStart + state->windowSize && !RefillWindow(state)) {
      return false;
    }
    const size_t at = size_t(state->position - state->windowStart);
    const size_t piece = std::min(length, state->windowSize - at);
    std::memcpy(out, state->data + at, piece);
    out += piece;
    length -= piece;
    state->position += piece;
  }
  return true;
}

void ReadFromSource(png_structp png, png_bytep out, size_t length) {
  auto* state = static_cast<PngReadState*>(png_get_io_ptr(png));
  const bool ok = state->imageData != nullptr ? state->imageData->Read(out, length)
                                              : ReadSource(state, out, length);
  if (!ok) png_error(png, "read failed");
}

bool ReadSourceFor(void* state, uint8_t* out, size_t length) {
  return ReadSource(static_cast<PngReadState*>(state), out, length);
}

// From the first image data chunk on, libpng reads the image data through
// an IdatInflater. libpng has just read that chunk's header.
OSErr StartImageData(PngReadHandle* handle) {
  PngReadState& state = handle->state;
  uint8_t header[8];
  const uint64_t at = state.position - 8;
  if (state.fd < 0) {
    std::memcpy(header, state.data + at, 8);
  } else if (::pread(state.fd, header, 8, off_t(at)) != 8) {
    return noErr;  // libpng reads on as it would
  }
  if (std::memcmp(header + 4, "IDAT", 4) != 0) return noErr;
  const uint32_t length = ReadBigEndian32(header);
  try {
    handle->imageData = std::make_unique<IdatInflater>(ReadSourceFor, &state, length);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  state.imageData = handle->imageData.get();
  // The chunks libpng now reads hold stored blocks: their checksums are
  // checked on the file's chunks instead, and a whole shown chunk is one
  // read.
  png_set_crc_action(state.png, PNG_CRC_QUIET_USE, PNG_CRC_NO_CHANGE);
  png_set_option(state.png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
  png_set_compression_buffer_size(state.png, 65535 + 5);
  return noErr;
}

// libpng's warnings and benign errors (a chunk it skipped: "tEXt: CRC
// error"), kept while a drawing collects them, never printed.
void PngNoteWarning(png_structp, png_const_charp text) {
  NoteDecodeWarning(text != nullptr ? text : "");
}

OSErr CreateLibpngReader(PngReadHandle* handle) {
  PngReadState& state = handle->state;
  state.png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngSilentError, PngNoteWarning);
  if (state.png == nullptr) return memFullErr;
  state.info = png_create_info_struct(state.png);
  if (state.info == nullptr) return memFullErr;
  return noErr;
}

OSErr CreateReader(ByteSpan file, PngReadHandle* handle) {
  if (OSErr err = CreateLibpngReader(handle)) return err;
  const ByteSpan shown = PngCompleteChunks(file);
  handle->state.data = shown.data();
  handle->state.size = shown.size();
  return noErr;
}

// Reads chunk headers (big-endian length and type) through a window of the
// file, so that a file of many small chunks costs a few reads, not one each.
class ChunkHeaderReader {
 public:
  explicit ChunkHeaderReader(int fd) : fd_(fd) {}
  // False when the file holds no whole chunk header at offset.
  bool Read(uint64_t offset, uint8_t header[8]) {
    if (offset < start_ || offset + 8 > start_ + filled_) {
      if (!Fill(offset)) return false;
    }
    std::memcpy(header, window_ + (offset - start_), 8);
    return true;
  }

 private:
  bool Fill(uint64_t offset) {
    start_ = offset;
    filled_ = 0;
    while (filled_ < sizeof(window_)) {
      const ssize_t n =
          ::pread(fd_, window_ + filled_, sizeof(window_) - filled_, off_t(offset + filled_));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      filled_ += size_t(n);
    }
    return filled_ >= 8;
  }
  int fd_;
  uint64_t start_ = 0;
  size_t filled_ = 0;
  uint8_t window_[65536];
};

// Walks the chunks of the open file by the rule of PngCompleteChunks and
// answers how much of it libpng may be shown. With skeleton, also collects
// the file without its image data: every other chunk as it is, the image
// data chunks replaced by one empty one.
OSErr WalkChunks(int fd, uint64_t size, uint64_t* shown, std::vector<uint8_t>* skeleton) {
  constexpr uint64_t kSignatureSize = 8;
  constexpr uint64_t kChunkOverhead = 12;  // length, type, CRC
  constexpr uint8_t kEmptyImageData[12] = {0, 0, 0, 0, 'I', 'D', 'A', 'T', 0x35, 0xAF, 0x06, 0x1E};
  *shown = size;
  uint64_t copyFrom = 0;  // the start of the chunks not yet copied
  bool sawImageData = false;
  auto copy = [&](uint64_t end) -> OSErr {
    if (skeleton == nullptr || end <= copyFrom) return noErr;
    const size_t at = skeleton->size();
    skeleton->resize(at + size_t(end - copyFrom));
    size_t done = 0;
    while (done < end - copyFrom) {
      const ssize_t n = ::pread(fd, skeleton->data() + at + done, size_t(end - copyFrom) - done,
                                off_t(copyFrom + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return ioErr;
      done += size_t(n);
    }
    return noErr;
  };
  try {
    if (size < kSignatureSize) return copy(size);
    uint64_t at = kSignatureSize;
    auto headers = std::make_unique<ChunkHeaderReader>(fd);
    while (size - at >= kChunkOverhead) {
      uint8_t header[8];
      if (!headers->Read(at, header)) return ioErr;
      const uint64_t length = ReadBigEndian32(header);
      const bool imageData = std::memcmp(header + 4, "IDAT", 4) == 0;
      if (length > size - at - kChunkOverhead) {
        if (imageData) {
          // Shown as it is: the readers fail at this chunk, as with the file.
          if (OSErr err = copy(at + 8)) return err;
          return noErr;
        }
        *shown = at;
        return copy(at);
      }
      const uint64_t next = at + kChunkOverhead + length;
      if (imageData) {
        if (OSErr err = copy(at)) return err;
        if (skeleton != nullptr && !sawImageData) {
          skeleton->insert(skeleton->end(), std::begin(kEmptyImageData), std::end(kEmptyImageData));
        }
        sawImageData = true;
        copyFrom = next;
      }
      at = next;
    }
    return copy(size);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  } catch (const std::length_error&) {
    return memFullErr;
  }
}

OSErr CreateFileReader(int fd, uint64_t size, PngReadHandle* handle) {
  if (OSErr err = CreateLibpngReader(handle)) return err;
  PngReadState& state = handle->state;
  if (OSErr err = WalkChunks(fd, size, &state.size, nullptr)) return err;
  try {
    handle->window.resize(kFileWindowBytes);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  state.data = handle->window.data();
  state.fd = fd;
  return noErr;
}

// Guarded: reads the chunks up to the image data.
bool ReadInfoGuarded(PngReadState* state) {
  if (setjmp(png_jmpbuf(state->png))) return false;
  png_set_read_fn(state->png, state, ReadFromSource);
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

// Reads the layout with a reader made by CreateReader or CreateFileReader.
OSErr ReadLayout(PngReadHandle* handle, PngLayout* layout) {
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
  if (OSErr err = CreateReader(file, &handle)) return err;
  if (OSErr err = ReadLayout(&handle, &layout)) return err;
  header->width = int32_t(layout.width);
  header->height = int32_t(layout.height);
  header->preferredPixelFormat = PreferredFormat(layout);
  header->hasAlpha = layout.hasAlpha;
  // An interlaced image is final only after its last pass.
  header->drawsRowsInOrder =
      png_get_interlace_type(handle.state.png, handle.state.info) == PNG_INTERLACE_NONE;
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

// Guarded: decodes every row into dst. Rows of an image in one pass are
// published as they come; an interlaced image is final only after its last
// pass.
bool ReadImageGuarded(PngReadState* state, RowBand* dst) {
  if (setjmp(png_jmpbuf(state->png))) return false;
  const int passes = png_set_interlace_handling(state->png);
  const int64_t height = BufferHeight(*dst);
  for (int pass = 0; pass < passes; ++pass) {
    for (int64_t y = 0; y < height; ++y) {
      png_read_row(state->png, BufferRow(*dst, y), nullptr);
      if (passes == 1 && (y % 16 == 15 || y + 1 == height) && !PublishDrawnRows(dst, y + 1)) {
        return false;
      }
    }
  }
  return true;
}

OSErr CheckDrawTarget(const RowBand* dst) {
  if (dst == nullptr) return paramErr;
  const OSType format = dst->PixelFormat();
  if (format != k32ARGBPixelFormat && format != k48RGBCodecType && format != k64ARGBPixelFormat) {
    return cDepthErr;
  }
  return noErr;
}

// Decodes through a reader made by CreateReader or CreateFileReader.
OSErr DrawWithReader(PngReadHandle& handle, RowBand* dst) {
  const OSType format = dst->PixelFormat();
  PngLayout layout;
  if (OSErr err = ReadLayout(&handle, &layout)) return err;
  if (layout.width != BufferWidth(*dst) || layout.height != BufferHeight(*dst)) return paramErr;
  PngReadState& state = handle.state;
  if (OSErr err = StartImageData(&handle)) return err;
  if (!ConfigureGuarded(&state, format, layout.hasAlpha)) return codecErr;
  const size_t rowBytes = size_t(layout.width) * size_t(dst->PixelSize() / 8);
  if (png_get_rowbytes(state.png, state.info) != rowBytes) return codecErr;

  if (!ReadImageGuarded(&state, dst)) return dst->Stopped() ? dst->StopError() : codecErr;
  return noErr;
}

// Grey images are drawn grey in every channel; a palette is RGB.
void ReadPngColour(ByteSpan file, ColourSource* colour) {
  PngReadHandle handle;
  PngLayout layout;
  if (CreateReader(file, &handle) != noErr || ReadLayout(&handle, &layout) != noErr) return;
  colour->model =
      (layout.colorType & PNG_COLOR_MASK_COLOR) != 0 ? ColourModel::kRgb : ColourModel::kGrey;
  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 length = 0;
  if (png_get_iCCP(handle.state.png, handle.state.info, &name, &compression, &profile, &length) &&
      profile != nullptr) {
    colour->icc.assign(profile, profile + length);
  }
}

OSErr DrawPng(ByteSpan file, const DrawRequest& request) {
  RowBand* dst = request.rows;
  if (OSErr err = CheckDrawTarget(dst)) return err;
  PngReadHandle handle;
  if (OSErr err = CreateReader(file, &handle)) return err;
  return DrawWithReader(handle, dst);
}

OSErr DrawPngFromFile(int fd, uint64_t size, const DrawRequest& request) {
  RowBand* dst = request.rows;
  if (OSErr err = CheckDrawTarget(dst)) return err;
  PngReadHandle handle;
  if (OSErr err = CreateFileReader(fd, size, &handle)) return err;
  return DrawWithReader(handle, dst);
}

OSErr ReadPngSkeleton(int fd, uint64_t size, std::vector<uint8_t>* skeleton) {
  skeleton->clear();
  uint64_t shown = 0;
  return WalkChunks(fd, size, &shown, skeleton);
}

}  // namespace

const ImporterCodec kPngImporter = {
    .format = &kPngFormat,
    .name = PngCodecName,
    .sniff = SniffPng,
    .readHeader = ReadPngHeader,
    .draw = DrawPng,
    .readSkeleton = ReadPngSkeleton,
    .drawFromFile = DrawPngFromFile,
    .readColour = ReadPngColour,
};
