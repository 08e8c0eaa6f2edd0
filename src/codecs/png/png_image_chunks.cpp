#include "codecs/png/png_image_chunks.h"

#include <algorithm>
#include <array>
#include <cstring>

#include <zlib.h>

#include "base/big_endian.h"
#include "base/item_types.h"
#include "codecs/png/png_chunk_write.h"
#include "metadata_blocks/item_access.h"

namespace {

struct ChunkKind {
  char name[5];
  OSType item;
  size_t minSize, maxSize;
};

// In the order the chunks are written: all of them before any palette.
constexpr std::array kKinds = std::to_array<ChunkKind>({
    {"gAMA", kPngGammaItem, 4, 4},
    {"cHRM", kPngChromaItem, 32, 32},
    {"sRGB", kPngSrgbItem, 1, 1},
    {"sBIT", kPngSignificantBitsItem, 1, 4},
    {"pHYs", kPngPhysItem, 9, 9},
});

const ChunkKind* KindOf(const uint8_t* name) {
  auto it = std::find_if(kKinds.begin(), kKinds.end(),
                         [name](const ChunkKind& k) { return std::memcmp(k.name, name, 4) == 0; });
  return it == kKinds.end() ? nullptr : &*it;
}

// Calls visit(name, data) for each whole chunk before the image data.
template <typename Visit>
void ForEachChunkBeforeImage(ByteSpan png, Visit visit) {
  size_t at = 8;
  while (png.size() - at >= 12) {
    const uint32_t length = ReadBigEndian32(png.data() + at);
    const uint8_t* name = png.data() + at + 4;
    if (std::memcmp(name, "IDAT", 4) == 0 || length > png.size() - at - 12) return;
    visit(name, png.subspan(at + 8, length));
    at += 12 + size_t(length);
  }
}

// Significant bits for each of the file's channels (grey or RGB, then
// alpha), taken from the source's: colour from grey by repetition, grey
// from colour by the largest, alpha without a source value at full depth.
std::vector<uint8_t> FitSignificantBits(const ItemBytes& source, uint8_t colourType,
                                        uint8_t bitDepth) {
  const bool sourceColour = source.size() >= 3;
  const bool sourceAlpha = source.size() == 2 || source.size() == 4;
  const uint8_t sourceGrey =
      sourceColour ? *std::max_element(source.begin(), source.begin() + 3) : source[0];
  std::vector<uint8_t> bits;
  if ((colourType & 2) != 0) {
    for (size_t c = 0; c < 3; ++c) bits.push_back(sourceColour ? source[c] : sourceGrey);
  } else {
    bits.push_back(sourceGrey);
  }
  if ((colourType & 4) != 0) bits.push_back(sourceAlpha ? source.back() : bitDepth);
  if (colourType == 3) bitDepth = 8;  // a palette's entries
  for (uint8_t& b : bits) b = std::clamp<uint8_t>(b, 1, bitDepth);
  return bits;
}

}  // namespace

void AddPngImageChunkItems(ByteSpan file, UserData ud) {
  if (!IsPngFile(file)) return;
  ForEachChunkBeforeImage(file, [ud](const uint8_t* name, ByteSpan data) {
    const ChunkKind* kind = KindOf(name);
    if (kind == nullptr || data.size() < kind->minSize || data.size() > kind->maxSize) return;
    if (CountUserDataType(ud, kind->item) == 0) AppendItem(ud, kind->item, data, 0);
  });
}

void PutPngImageChunkItems(UserData ud, std::vector<uint8_t>* png) {
  if (!HasPngHeaderChunk(*png)) return;
  bool present[kKinds.size()] = {};
  ForEachChunkBeforeImage(*png, [&present](const uint8_t* name, ByteSpan) {
    if (const ChunkKind* kind = KindOf(name)) present[kind - kKinds.data()] = true;
  });
  const uint8_t bitDepth = (*png)[24], colourType = (*png)[25];
  std::vector<uint8_t> chunks;
  for (const ChunkKind& kind : kKinds) {
    std::optional<ItemBytes> data = ReadItem(ud, kind.item, 1);
    if (present[&kind - kKinds.data()] || !data || data->size() < kind.minSize ||
        data->size() > kind.maxSize) {
      continue;
    }
    if (kind.item == kPngSignificantBitsItem)
      *data = FitSignificantBits(*data, colourType, bitDepth);
    AppendPngChunk(&chunks, kind.name, data->data(), data->size());
  }
  png->insert(png->begin() + kPngHeaderChunkEnd, chunks.begin(), chunks.end());
}

void PutPngIccChunk(UserData ud, std::vector<uint8_t>* png) {
  const std::optional<ItemBytes> icc = ReadItem(ud, kIccItem, 1);
  if (!icc || icc->empty() || !HasPngHeaderChunk(*png)) return;
  // Name, its terminating zero, compression method 0, the deflated profile.
  constexpr char kName[] = "ICC profile";
  std::vector<uint8_t> data(kName, kName + sizeof kName);
  data.push_back(0);
  uLongf packed = compressBound(uLong(icc->size()));
  const size_t head = data.size();
  data.resize(head + packed);
  if (compress2(data.data() + head, &packed, icc->data(), uLong(icc->size()), 9) != Z_OK) return;
  data.resize(head + packed);
  std::vector<uint8_t> chunk;
  AppendPngChunk(&chunk, "iCCP", data.data(), data.size());
  png->insert(png->begin() + std::ptrdiff_t(kPngHeaderChunkEnd), chunk.begin(), chunk.end());
}
