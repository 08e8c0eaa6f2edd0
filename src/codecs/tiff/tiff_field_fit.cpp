#include "codecs/tiff/tiff_field_fit.h"

#include <unordered_map>
#include <vector>

#include "codecs/tiff/tiff_codec.h"

namespace {

// The field types libtiff accepts for each tag it knows, as a mask of bits
// 1 << type.
using TypeMasks = std::unordered_map<uint16_t, uint32_t>;

struct Scratch {
  std::vector<uint8_t> bytes;
  uint64_t at = 0;
};

tmsize_t WriteScratch(thandle_t handle, void* data, tmsize_t count) {
  auto* s = static_cast<Scratch*>(handle);
  const auto* from = static_cast<const uint8_t*>(data);
  if (count <= 0) return 0;
  if (s->bytes.size() < s->at + uint64_t(count)) s->bytes.resize(size_t(s->at + uint64_t(count)));
  std::copy(from, from + count, s->bytes.begin() + ptrdiff_t(s->at));
  s->at += uint64_t(count);
  return count;
}
tmsize_t ReadNothing(thandle_t, void*, tmsize_t) {
  return 0;
}
toff_t SeekScratch(thandle_t handle, toff_t offset, int whence) {
  auto* s = static_cast<Scratch*>(handle);
  s->at = (whence == SEEK_CUR ? s->at : whence == SEEK_END ? s->bytes.size() : 0) + offset;
  return s->at;
}
int CloseNothing(thandle_t) {
  return 0;
}
toff_t SizeOfScratch(thandle_t handle) {
  return static_cast<Scratch*>(handle)->bytes.size();
}
int MapNothing(thandle_t, void**, toff_t*) {
  return 0;
}
void UnmapNothing(thandle_t, void*, toff_t) {}

// libtiff's field table belongs to an open file: a scratch one is opened
// for writing, asked about every tag, and dropped.
TypeMasks LibtiffTypeMasks() {
  TypeMasks masks;
  Scratch scratch;
  TiffOptions options = SilentTiffOptions();
  if (!options) return masks;
  TiffHandle tif(TIFFClientOpenExt("fields", "wm", &scratch, ReadNothing, WriteScratch, SeekScratch,
                                   CloseNothing, SizeOfScratch, MapNothing, UnmapNothing,
                                   options.get()));
  if (!tif) return masks;
  for (uint32_t tag = 1; tag <= 0xFFFF; ++tag) {
    if (TIFFFindField(tif.get(), tag, TIFF_ANY) == nullptr) continue;
    uint32_t mask = 0;
    for (int type = TIFF_BYTE; type <= TIFF_IFD8; ++type) {
      if (TIFFFindField(tif.get(), tag, TIFFDataType(type)) != nullptr) mask |= 1u << type;
    }
    masks.emplace(uint16_t(tag), mask);
  }
  return masks;
}

}  // namespace

bool LibtiffTakesField(uint16_t tag, uint16_t tiffType) {
  static const TypeMasks masks = LibtiffTypeMasks();
  const auto it = masks.find(tag);
  return it == masks.end() || (tiffType < 32 && (it->second >> tiffType & 1) != 0);
}
