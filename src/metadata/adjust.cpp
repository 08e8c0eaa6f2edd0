#include "metadata/adjust.h"

#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "base/big_endian.h"
#include "base/item_types.h"
#include "metadata/drop_items.h"
#include "metadata/meta_tags.h"
#include "metadata/orientation.h"
#include "metadata/photoshop_resources.h"
#include "metadata/rational.h"
#include "metadata/xmp_packet.h"
#include "metadata/xmp_size.h"
#include "platform/handle.h"
#include "platform/owned.h"

namespace {

constexpr OSType kPixelXDimensionType = kExifItemBase + 0xA002;
constexpr OSType kPixelYDimensionType = kExifItemBase + 0xA003;
constexpr OSType kFocalPlaneXResolutionType = kExifItemBase + 0xA20E;
constexpr OSType kFocalPlaneYResolutionType = kExifItemBase + 0xA20F;
constexpr OSType kRelatedImageWidthType = kInteropItemBase + 0x1001;
constexpr OSType kRelatedImageLengthType = kInteropItemBase + 0x1002;
constexpr uint16_t kShortField = 3;
constexpr uint16_t kLongField = 4;
constexpr OSType kSoftwareTextType = 0xA9737772;  // 0xA9 "swr"
constexpr char kSoftwareName[] = "Kelvane Studio tavrel";

// A pixel extent in the field type the copy writes it with, decided here
// alone: the SHORT the source had (mayStayShort) while the extent fits 16
// bits, else a LONG.
void StoreExtent(UserData ud, OSType type, int32_t extent, bool mayStayShort) {
  uint8_t bytes[4];
  WriteBigEndian32(uint32_t(extent), bytes);
  const bool asShort = mayStayShort && extent >= 0 && extent <= 0xFFFF;
  if (SetUserDataItem(ud, asShort ? bytes + 2 : bytes, asShort ? 2 : 4, type, 1) == noErr) {
    SetUserDataItemTiffType(ud, type, 1, asShort ? kShortField : kLongField);
  }
}

std::optional<Rational> FetchResolution(UserData ud, OSType type) {
  uint8_t bytes[8];
  if (GetUserDataItem(ud, bytes, sizeof bytes, type, 1) != noErr) return std::nullopt;
  return Rational{ReadBigEndian32(bytes), ReadBigEndian32(bytes + 4)};
}

void StoreResolution(UserData ud, OSType type, Rational r) {
  uint8_t bytes[8];
  WriteBigEndian32(r.numerator, bytes);
  WriteBigEndian32(r.denominator, bytes + 4);
  SetUserDataItem(ud, bytes, sizeof bytes, type, 1);
}

// The XMP packet's copies of the size say what the EXIF items say.
void StoreXmpDimensions(UserData ud, int32_t width, int32_t height) {
  ChangeXmpPacket(
      ud, [&](std::string_view packet) { return RefitXmpImageSize(packet, width, height); });
}

// A size the interoperability IFD states, where it states one.
void RefitStatedExtent(UserData ud, OSType type, int32_t extent) {
  if (CountUserDataType(ud, type) == 0) return;
  StoreExtent(ud, type, extent, GetUserDataItemTiffType(ud, type, 1) == kShortField);
}

// A panorama's pixel fields in the XMP packet follow the picture.
void StoreXmpPanorama(UserData ud, const OutputGeometry& geometry) {
  ChangeXmpPacket(ud, [&](std::string_view packet) { return RefitXmpPanorama(packet, geometry); });
}

// Rescales resolution by factor and stores it. An axis whose operands or
// result hold a zero term has no meaningful value: its item stays as it was
// (absent if it was absent).
void StoreScaledResolution(UserData ud, OSType type, Rational resolution, Rational factor) {
  if (HasZeroTerm(resolution) || HasZeroTerm(factor)) return;
  const Rational scaled = ScaleRational(resolution, factor);
  if (HasZeroTerm(scaled)) return;
  StoreResolution(ud, type, scaled);
}

}  // namespace

void AdjustMetaData(UserData ud, const OutputGeometry& geometry) {
  UniqueHandle text(NewHandle(0));
  const int32_t outputWidth = WrittenWidth(geometry);
  const int32_t outputHeight = WrittenHeight(geometry);

  // The picture's own size is a LONG whatever the source used.
  StoreExtent(ud, kPixelXDimensionType, outputWidth, false);
  StoreExtent(ud, kPixelYDimensionType, outputHeight, false);
  StoreXmpDimensions(ud, outputWidth, outputHeight);
  StoreXmpPanorama(ud, geometry);
  RefitStatedExtent(ud, kRelatedImageWidthType, outputWidth);
  RefitStatedExtent(ud, kRelatedImageLengthType, outputHeight);
  // A thumbnail would show the picture as it was (the EXIF one is left out
  // where the Exif block is laid out).
  ChangePhotoshopBlocks(ud, WithoutPhotoshopThumbnails);

  if (text && PtrToXHand(kSoftwareName, text.get(), std::strlen(kSoftwareName)) == noErr) {
    AddUserDataText(ud, text.get(), kSoftwareTextType, 1, 0);
  }

  // One resolution serves both axes: the X item's when there is one.
  std::optional<Rational> resolution = FetchResolution(ud, kFocalPlaneXResolutionType);
  if (!resolution) resolution = FetchResolution(ud, kFocalPlaneYResolutionType);
  if (!resolution) return;

  // Each written axis takes the scale of the resize direction it shows.
  const AxisScale across = Turned(geometry) ? VerticalScale(geometry) : HorizontalScale(geometry);
  const AxisScale down = Turned(geometry) ? HorizontalScale(geometry) : VerticalScale(geometry);
  StoreScaledResolution(ud, kFocalPlaneXResolutionType, *resolution,
                        {across.output, across.source});
  StoreScaledResolution(ud, kFocalPlaneYResolutionType, *resolution, {down.output, down.source});
}

void AdjustMetaData(UserData ud, int32_t sourceWidth, int32_t sourceHeight, int32_t outputWidth,
                    int32_t outputHeight, int32_t quarterTurns) {
  OutputGeometry geometry = StoredGeometry(sourceWidth, sourceHeight, 1);
  geometry.quarterTurns = quarterTurns;
  const bool turned = Turned(geometry);
  SetWholeResize(&geometry, turned ? outputHeight : outputWidth,
                 turned ? outputWidth : outputHeight);
  AdjustMetaData(ud, geometry);
}

void FitCopiedMetaData(UserData ud, const OutputGeometry& geometry, bool upright,
                       uint32_t dropItems, uint32_t keptItems) {
  AdjustMetaData(ud, geometry);
  if (upright) MarkUpright(ud);
  DropItems(ud, dropItems, keptItems);
}
