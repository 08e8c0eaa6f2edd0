#include "base/item_types.h"

#include <algorithm>
#include <array>

#include "base/big_endian.h"

namespace {

struct TextPlace {
  OSType type;
  uint16_t ifd0Tag;             // 0: no IFD0 field
  std::string_view pngKeyword;  // empty: no PNG keyword
};

constexpr std::array kTextPlaces = std::to_array<TextPlace>({
    {TextItemType("des"), 0x010E, "Description"},
    {TextItemType("mak"), 0x010F, ""},
    {TextItemType("mod"), 0x0110, ""},
    {TextItemType("swr"), 0x0131, "Software"},
    {TextItemType("day"), 0x0132, "Creation Time"},
    {TextItemType("ART"), 0x013B, ""},
    {TextItemType("hst"), 0x013C, ""},
    {TextItemType("cpy"), 0x8298, "Copyright"},
    {TextItemType("nam"), 0, "Title"},
    {TextItemType("aut"), 0, "Author"},
    {TextItemType("dis"), 0, "Disclaimer"},
    {TextItemType("wrn"), 0, "Warning"},
    {TextItemType("src"), 0, "Source"},
    {TextItemType("cmt"), 0, "Comment"},
});

template <typename Match>
const TextPlace* FindPlace(Match match) {
  auto it = std::find_if(kTextPlaces.begin(), kTextPlaces.end(), match);
  return it == kTextPlaces.end() ? nullptr : &*it;
}

}  // namespace

uint16_t Ifd0TagOfTextItem(OSType type) {
  const TextPlace* place = FindPlace([type](const TextPlace& p) { return p.type == type; });
  return place ? place->ifd0Tag : 0;
}

OSType TextItemOfIfd0Tag(uint16_t tag) {
  if (tag == 0) return 0;
  const TextPlace* place = FindPlace([tag](const TextPlace& p) { return p.ifd0Tag == tag; });
  return place ? place->type : 0;
}

std::string_view PngKeywordOfTextItem(OSType type) {
  const TextPlace* place = FindPlace([type](const TextPlace& p) { return p.type == type; });
  return place ? place->pngKeyword : std::string_view{};
}

OSType TextItemOfPngKeyword(std::string_view keyword) {
  if (keyword.empty()) return 0;
  const TextPlace* place =
      FindPlace([keyword](const TextPlace& p) { return p.pngKeyword == keyword; });
  return place ? place->type : 0;
}

std::optional<int64_t> FirstIntegerOfItem(std::span<const uint8_t> item, uint16_t tiffType) {
  if (tiffType == 0 && (item.size() == 1 || item.size() == 2 || item.size() == 4)) {
    tiffType = item.size() == 1 ? 1 : item.size() == 2 ? 3 : 4;
  }
  switch (tiffType) {
    case 1:  // BYTE
      if (!item.empty()) return item[0];
      break;
    case 6:  // SBYTE
      if (!item.empty()) return int8_t(item[0]);
      break;
    case 3:  // SHORT
      if (item.size() >= 2) return ReadBigEndian16(item.data());
      break;
    case 8:  // SSHORT
      if (item.size() >= 2) return int16_t(ReadBigEndian16(item.data()));
      break;
    case 4:  // LONG
      if (item.size() >= 4) return ReadBigEndian32(item.data());
      break;
    case 9:  // SLONG
      if (item.size() >= 4) return int32_t(ReadBigEndian32(item.data()));
      break;
    default:
      break;
  }
  return std::nullopt;
}
