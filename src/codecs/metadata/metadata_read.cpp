#include <exiv2/error.hpp>
#include <exiv2/exif.hpp>
#include <exiv2/image.hpp>
#include <exiv2/iptc.hpp>

#include <cstdint>
#include <limits>
#include <new>
#include <string>

#include "base/item_types.h"
#include "codecs/jpeg/jfif_density.h"
#include "codecs/jpeg/jpeg_gain_map.h"
#include "codecs/jpeg/jpeg_photoshop_segment.h"
#include "codecs/metadata/source_exif_block.h"
#include "codecs/png/png_image_chunks.h"
#include "codecs/png/png_text.h"
#include "metadata_blocks/exif_items.h"
#include "metadata_blocks/item_access.h"
#include "platform/metadata_io.h"
#include "platform/metadata_library.h"

namespace {

std::span<const uint8_t> BytesOf(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// The XMP packet as the file holds it: exiv2 serialises what it parsed anew
// (on one line, its own namespace spellings) unless asked for the packet
// read, and a TIFF's packet (IFD0 tag 700) it keeps only as that field.
std::string StoredXmpPacket(Exiv2::Image* image) {
  image->writeXmpFromPacket(true);
  if (!image->xmpPacket().empty()) return image->xmpPacket();
  const Exiv2::ExifData& exif = image->exifData();
  auto field = exif.findKey(Exiv2::ExifKey("Exif.Image.XMLPacket"));
  if (field == exif.end() || field->size() <= 0) return {};
  std::string packet(size_t(field->size()), '\0');
  field->copy(reinterpret_cast<Exiv2::byte*>(packet.data()), Exiv2::bigEndian);
  return packet;
}

// exiv2 gathers the fields of every eXIf chunk of a PNG file into one list,
// so that a file with two (some writers repeat the chunk) would give each
// field twice: the first chunk alone counts, as it is the block the copy
// starts from.
void AddExifFieldItems(const Exiv2::Image& image, ByteSpan file, UserData ud) {
  const ByteSpan first = image.mimeType() == "image/png" ? FindExifBlock(file) : ByteSpan{};
  if (first.empty() || first.size() > UINT32_MAX) {
    return AddExifItems(image.exifData(), image.byteOrder(), ud);
  }
  Exiv2::ExifData fields;
  Exiv2::ByteOrder order = Exiv2::invalidByteOrder;
  try {
    order = Exiv2::ExifParser::decode(fields, first.data(), uint32_t(first.size()));
  } catch (const Exiv2::AnyError&) {
  } catch (const std::exception&) {
  }
  AddExifItems(fields, order, ud);
}

// Whatever exiv2 could read before it gave up is taken.
void AddExiv2Items(ByteSpan file, UserData ud) {
  if (file.size() > size_t(std::numeric_limits<long>::max())) return;
  Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(file.data(), long(file.size()));
  if (image.get() == nullptr) return;
  try {
    image->readMetadata();
  } catch (const Exiv2::AnyError&) {
  } catch (const std::exception&) {
  }
  AddExifFieldItems(*image, file, ud);
  if (image->mimeType() == "image/jpeg" && !image->comment().empty()) {
    AppendTextItem(ud, kCommentItem, BytesOf(image->comment()), 0);
  }
  if (const std::string xmp = StoredXmpPacket(image.get()); !xmp.empty()) {
    AppendItem(ud, kXmpItem, BytesOf(xmp), 0);
  }
  if (!image->iptcData().empty()) {
    const Exiv2::DataBuf iptc = Exiv2::IptcParser::encode(image->iptcData());
    if (iptc.size_ > 0) AppendItem(ud, kIptcItem, {iptc.pData_, size_t(iptc.size_)}, 0);
  }
  if (image->iccProfileDefined()) {
    const Exiv2::DataBuf* icc = image->iccProfile();
    if (icc->size_ > 0) AppendItem(ud, kIccItem, {icc->pData_, size_t(icc->size_)}, 0);
  }
}

}  // namespace

OSErr ReadFileMetaData(ByteSpan file, UserData ud) {
  if (ud == nullptr) return paramErr;
  InitMetaDataLibrary();
  try {
    AddExiv2Items(file, ud);
    SetUserDataSourceExif(ud, FindExifBlock(file));
    SetUserDataSourcePhotoshop(ud, FindJpegPhotoshopBlock(file));
    const JpegGainMap gainMap = FindJpegGainMap(file);
    SetUserDataGainMap(ud, gainMap.jpeg, gainMap.isoVersion);
  } catch (const Exiv2::AnyError&) {
    // Not a format exiv2 knows, or metadata it cannot read: no items.
  } catch (const std::exception&) {
  }
  AddPngTextItems(file, ud);
  AddPngImageChunkItems(file, ud);
  AddJfifDensityItem(file, ud);
  return noErr;
}
