#include "platform/codecs/png/png_text.h"

#include <png.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>

#include "base/item_types.h"
#include "platform/codecs/png/png_chunk_write.h"
#include "platform/codecs/png/png_chunks.h"
#include "platform/metadata_items/item_access.h"

namespace {

// Bounds on what the text chunks may cost, as for the image reader: a chunk
// whose stated length (or expanded text) is larger is skipped, so that a
// small file cannot make libpng allocate and clear gigabytes.
constexpr png_uint_32 kMaxTextChunks = 1000;
constexpr png_alloc_size_t kMaxTextChunkBytes = 8000000;

struct MemoryReader {
  ByteSpan file;
  size_t at = 0;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t length) {
  auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
  if (length > reader->file.size() - reader->at) png_error(png, "truncated");
  std::memcpy(out, reader->file.data() + reader->at, length);
  reader->at += length;
}

[[noreturn]] void SilentError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}
void SilentWarning(png_structp, png_const_charp) {}

void AddTexts(png_structp png, png_infop info, UserData ud) noexcept try {
  png_textp texts = nullptr;
  int count = png_get_text(png, info, &texts, nullptr);
  for (int i = 0; i < count; ++i) {
    const OSType type = TextItemOfPngKeyword(texts[i].key ? texts[i].key : "");
    if (type == 0 || texts[i].text == nullptr) continue;
    const size_t length = texts[i].compression >= PNG_ITXT_COMPRESSION_NONE ? texts[i].itxt_length
                                                                            : texts[i].text_length;
    AppendTextItem(ud, type, {reinterpret_cast<const uint8_t*>(texts[i].text), length}, 0);
  }
} catch (const std::bad_alloc&) {
  // The texts read so far stay.
}

// libpng answers errors by a jump back here: no object with a destructor
// lives in this function.
void ReadTexts(MemoryReader* reader, UserData ud) {
  png_structp png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, SilentError, SilentWarning);
  if (png == nullptr) return;
  png_infop info = png_create_info_struct(png);
  if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
    png_set_read_fn(png, reader, ReadFromMemory);
    png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
    png_set_chunk_cache_max(png, kMaxTextChunks);
    png_set_chunk_malloc_max(png, kMaxTextChunkBytes);
    png_read_info(png, info);
    AddTexts(png, info, ud);
  }
  png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
}

// A tEXt chunk for Latin-1 text, an uncompressed iTXt chunk (UTF-8) for
// text with bytes above 0x7F. The text ends at its first zero byte, which
// neither chunk may hold.
void AppendTextChunk(std::vector<uint8_t>* out, std::string_view keyword, const ItemBytes& text) {
  const size_t length = size_t(std::find(text.begin(), text.end(), uint8_t(0)) - text.begin());
  const bool plain = std::all_of(text.begin(), text.begin() + ptrdiff_t(length),
                                 [](uint8_t c) { return c < 0x80; });
  std::vector<uint8_t> body;
  AppendBytes(&body, keyword.data(), keyword.size());
  constexpr uint8_t kItxtFields[5] = {0, 0, 0, 0, 0};  // key end, not compressed, no language
  AppendBytes(&body, kItxtFields, plain ? 1 : 5);
  AppendBytes(&body, text.data(), length);
  AppendPngChunk(out, plain ? "tEXt" : "iTXt", body.data(), body.size());
}

}  // namespace

void AddPngTextItems(ByteSpan file, UserData ud) {
  if (!IsPngFile(file)) return;
  MemoryReader reader{PngCompleteChunks(file)};
  ReadTexts(&reader, ud);
}

void PutPngTextItems(UserData ud, std::vector<uint8_t>* png) {
  if (!HasPngHeaderChunk(*png)) return;
  std::vector<uint8_t> chunks;
  for (OSType type = GetNextUserDataType(ud, 0); type != 0; type = GetNextUserDataType(ud, type)) {
    const std::string_view keyword = PngKeywordOfTextItem(type);
    if (keyword.empty()) continue;
    for (int32_t index = 1; index <= CountUserDataType(ud, type); ++index) {
      const bool hasIfd0Field =
          Ifd0TagOfTextItem(type) != 0 && GetUserDataItemTiffType(ud, type, index) == kTiffAscii;
      if (hasIfd0Field) continue;
      if (std::optional<ItemBytes> text = ReadItem(ud, type, index)) {
        AppendTextChunk(&chunks, keyword, *text);
      }
    }
  }
  png->insert(png->begin() + kPngHeaderChunkEnd, chunks.begin(), chunks.end());
}

void PutPngExifChunk(const std::vector<uint8_t>& tiff, std::vector<uint8_t>* png) {
  if (tiff.empty() || !HasPngHeaderChunk(*png)) return;
  std::vector<uint8_t> chunk;
  AppendPngChunk(&chunk, "eXIf", tiff.data(), tiff.size());
  png->insert(png->begin() + kPngHeaderChunkEnd, chunk.begin(), chunk.end());
}
