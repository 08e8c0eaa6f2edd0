#include "codecs/png/png_text.h"

#include <libdeflate.h>
#include <png.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>

#include "base/item_types.h"
#include "base/latin1_utf8.h"
#include "codecs/png/png_chunk_write.h"
#include "codecs/png/png_chunks.h"
#include "metadata_blocks/item_access.h"

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

// The form kept with a text item: the chunk it came in, then for iTXt the
// language tag and the translated keyword, each ending in a zero byte.
enum TextChunk : uint8_t { kTextLatin1, kTextCompressed, kTextUtf8, kTextUtf8Compressed };

std::span<const uint8_t> Bytes(const char* text, size_t length) {
  return {reinterpret_cast<const uint8_t*>(text), length};
}

void AppendCString(std::vector<uint8_t>* out, const char* text) {
  if (text != nullptr) AppendBytes(out, text, std::strlen(text));
  out->push_back(0);
}

// Latin-1 texts (tEXt, zTXt) become UTF-8 like every other text item; the
// form remembers how to store them back.
void AddTexts(png_structp png, png_infop info, UserData ud) noexcept try {
  png_textp texts = nullptr;
  int count = png_get_text(png, info, &texts, nullptr);
  for (int i = 0; i < count; ++i) {
    const png_text& t = texts[i];
    const OSType type = TextItemOfPngKeyword(t.key ? t.key : "");
    if (type == 0 || t.text == nullptr) continue;
    std::vector<uint8_t> form;
    const int32_t before = CountUserDataType(ud, type);
    if (t.compression >= PNG_ITXT_COMPRESSION_NONE) {
      AppendTextItem(ud, type, Bytes(t.text, t.itxt_length), 0);
      form.push_back(t.compression == PNG_ITXT_COMPRESSION_NONE ? kTextUtf8 : kTextUtf8Compressed);
      AppendCString(&form, t.lang);
      AppendCString(&form, t.lang_key);
    } else {
      AppendTextItem(ud, type, Latin1ToUtf8(Bytes(t.text, t.text_length)), 0);
      form.push_back(t.compression == PNG_TEXT_COMPRESSION_NONE ? kTextLatin1 : kTextCompressed);
    }
    if (CountUserDataType(ud, type) > before) SetUserDataItemForm(ud, type, before + 1, form);
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

// zlib's format, as zTXt and compressed iTXt chunks hold text; empty when
// it cannot be made.
std::vector<uint8_t> Compressed(std::span<const uint8_t> text) {
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(9);
  if (compressor == nullptr) return {};
  std::vector<uint8_t> out(libdeflate_zlib_compress_bound(compressor, text.size()));
  out.resize(
      libdeflate_zlib_compress(compressor, text.data(), text.size(), out.data(), out.size()));
  libdeflate_free_compressor(compressor);
  return out;
}

struct TextForm {
  TextChunk chunk = kTextLatin1;
  std::string_view language, translatedKeyword;  // iTXt only
};

TextForm FormOf(std::span<const uint8_t> form) {
  TextForm f;
  if (form.empty() || form[0] > kTextUtf8Compressed) return f;
  f.chunk = TextChunk(form[0]);
  const std::string_view rest(reinterpret_cast<const char*>(form.data()) + 1, form.size() - 1);
  const size_t end = rest.find('\0');
  if (end == std::string_view::npos) return f;
  f.language = rest.substr(0, end);
  const std::string_view after = rest.substr(end + 1);
  f.translatedKeyword = after.substr(0, after.find('\0'));
  return f;
}

// Each text goes back in the chunk it came in: tEXt and zTXt (Latin-1) while
// it can be written in Latin-1, else iTXt (UTF-8) keeping the language tag
// and translated keyword. A text from elsewhere is tEXt when it is ASCII,
// else iTXt; bytes that are not UTF-8 are taken as Latin-1. The text ends
// at its first zero byte, which no chunk may hold.
void AppendTextChunk(std::vector<uint8_t>* out, std::string_view keyword, const ItemBytes& item,
                     std::span<const uint8_t> formBytes) {
  const size_t length = size_t(std::find(item.begin(), item.end(), uint8_t(0)) - item.begin());
  const std::span<const uint8_t> text(item.data(), length);
  const bool known = !formBytes.empty();
  TextForm form = FormOf(formBytes);
  std::optional<std::vector<uint8_t>> latin1 = Utf8ToLatin1(text);
  if (!IsValidUtf8(text)) latin1 = std::vector<uint8_t>(text.begin(), text.end());
  const bool ascii = std::all_of(text.begin(), text.end(), [](uint8_t c) { return c < 0x80; });
  const bool compress = form.chunk == kTextCompressed || form.chunk == kTextUtf8Compressed;
  const bool utf8 = IsValidUtf8(text) && (known ? form.chunk >= kTextUtf8 || !latin1 : !ascii);
  std::vector<uint8_t> body;
  AppendBytes(&body, keyword.data(), keyword.size());
  body.push_back(0);
  if (!utf8) {
    if (compress) {
      std::vector<uint8_t> packed = Compressed(*latin1);
      if (!packed.empty()) {
        body.push_back(0);  // method: zlib
        AppendBytes(&body, packed.data(), packed.size());
        AppendPngChunk(out, "zTXt", body.data(), body.size());
        return;
      }
    }
    AppendBytes(&body, latin1->data(), latin1->size());
    AppendPngChunk(out, "tEXt", body.data(), body.size());
    return;
  }
  std::vector<uint8_t> packed = compress ? Compressed(text) : std::vector<uint8_t>{};
  body.push_back(packed.empty() ? 0 : 1);
  body.push_back(0);  // method: zlib
  AppendBytes(&body, form.language.data(), form.language.size());
  body.push_back(0);
  AppendBytes(&body, form.translatedKeyword.data(), form.translatedKeyword.size());
  body.push_back(0);
  if (packed.empty()) {
    AppendBytes(&body, text.data(), text.size());
  } else {
    AppendBytes(&body, packed.data(), packed.size());
  }
  AppendPngChunk(out, "iTXt", body.data(), body.size());
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
        AppendTextChunk(&chunks, keyword, *text, GetUserDataItemForm(ud, type, index));
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
