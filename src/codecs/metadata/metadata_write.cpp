#include <exiv2/basicio.hpp>
#include <exiv2/error.hpp>
#include <exiv2/image.hpp>
#include <exiv2/iptc.hpp>

#include <climits>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "base/item_types.h"
#include "codecs/jpeg/jfif_density.h"
#include "codecs/jpeg/jpeg_exif_segment.h"
#include "codecs/jpeg/jpeg_gain_map.h"
#include "codecs/jpeg/jpeg_photoshop_segment.h"
#include "codecs/metadata/density_bridge.h"
#include "codecs/png/png_image_chunks.h"
#include "codecs/png/png_text.h"
#include "codecs/tiff/tiff_field_fit.h"
#include "codecs/webp/webp_metadata.h"
#include "metadata_blocks/exif_items.h"
#include "metadata_blocks/item_access.h"
#include "metadata_blocks/photoshop_resources.h"
#include "platform/metadata_io.h"
#include "platform/metadata_library.h"

namespace {

// What exiv2 writes, one bit each: a part exiv2 refuses is left out alone.
enum Part : unsigned {
  kExifPart = 1,
  kXmpPart = 2,
  kIccPart = 4,
  kCommentPart = 8,
  kIptcPart = 16,
  kMakerNotePart = 32,  // exiv2's layout of a maker note that cannot move; with kExifPart
};
constexpr Part kParts[] = {kExifPart, kMakerNotePart, kXmpPart, kIccPart, kCommentPart, kIptcPart};

std::string TextOf(const ItemBytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

bool Holds(const Exiv2::Image& image, Exiv2::MetadataId kind) {
  return image.supportsMetadata(kind);
}

bool IsTiff(const Exiv2::Image& image) {
  return image.mimeType() == "image/tiff";
}

// The source's Photoshop block, or nothing when it does not hold together.
ByteSpan HeldPhotoshopBlock(UserData ud) {
  const ByteSpan block = GetUserDataSourcePhotoshop(ud);
  return PhotoshopBlockHoldsTogether(block) ? block : ByteSpan{};
}

// libtiff reads back what tavrel and most readers read TIFF files with.
void PutExif(UserData ud, Exiv2::Image* image) {
  if (!Holds(*image, Exiv2::mdExif)) return;
  Exiv2::ExifData exif = image->exifData();
  PutExifItems(ud, LooseTextItems::kToIfd0, &exif, IsTiff(*image) ? LibtiffTakesField : nullptr);
  const ByteSpan photoshop = HeldPhotoshopBlock(ud);
  if (IsTiff(*image) && !photoshop.empty() && photoshop.size() < size_t(LONG_MAX) &&
      exif.findKey(Exiv2::ExifKey("Exif.Image.ImageResources")) == exif.end()) {
    Exiv2::DataValue resources(Exiv2::unsignedByte);
    resources.read(photoshop.data(), long(photoshop.size()));
    exif.add(Exiv2::ExifKey("Exif.Image.ImageResources"), &resources);
  }
  image->setExifData(exif);
}

void PutMakerNote(UserData ud, Exiv2::Image* image) {
  if (!Holds(*image, Exiv2::mdExif)) return;
  Exiv2::ExifData exif = image->exifData();
  PutRelaidMakerNote(ud, &exif);
  image->setExifData(exif);
}

// The packet goes in as it came, without exiv2 parsing it (setXmpPacket
// would): a packet its parser refuses (other programs write some) is still
// the source's.
void PutXmp(UserData ud, Exiv2::Image* image) {
  if (!Holds(*image, Exiv2::mdXmp)) return;
  if (std::optional<ItemBytes> xmp = ReadItem(ud, kXmpItem, 1)) {
    image->xmpPacket() = TextOf(*xmp);
    image->xmpData().setPacket(image->xmpPacket());  // where the TIFF writer takes it from
    image->writeXmpFromPacket(true);
  }
}

// exiv2 0.27 does not list ICC profiles among what its formats support,
// though its JPEG, PNG and TIFF writers store them.
void PutIcc(UserData ud, Exiv2::Image* image) {
  std::optional<ItemBytes> icc = ReadItem(ud, kIccItem, 1);
  if (!icc || icc->size() > size_t(std::numeric_limits<long>::max())) return;
  Exiv2::DataBuf profile(icc->data(), long(icc->size()));
  image->setIccProfile(profile, true);
}

// Only JPEG has a comment of its own; PNG gets its comment as a text chunk.
void PutComment(UserData ud, Exiv2::Image* image) {
  if (image->mimeType() != "image/jpeg") return;
  if (std::optional<ItemBytes> comment = ReadItem(ud, kCommentItem, 1)) {
    image->setComment(TextOf(*comment));
  }
}

// JPEG (a Photoshop resource in APP13) and TIFF (tag 33723); PNG has no
// place of its own for the records.
void PutIptc(UserData ud, Exiv2::Image* image) {
  if (image->mimeType() != "image/jpeg" && !IsTiff(*image)) return;
  std::optional<ItemBytes> iptc = ReadItem(ud, kIptcItem, 1);
  if (!iptc || iptc->size() > size_t(std::numeric_limits<uint32_t>::max())) return;
  Exiv2::IptcData records;
  if (Exiv2::IptcParser::decode(records, iptc->data(), uint32_t(iptc->size())) != 0) return;
  image->setIptcData(records);
}

void PutPart(Part part, UserData ud, Exiv2::Image* image) {
  switch (part) {
    case kExifPart:
      return PutExif(ud, image);
    case kXmpPart:
      return PutXmp(ud, image);
    case kIccPart:
      return PutIcc(ud, image);
    case kCommentPart:
      return PutComment(ud, image);
    case kIptcPart:
      return PutIptc(ud, image);
    case kMakerNotePart:
      return PutMakerNote(ud, image);
  }
}

// The file rewritten by exiv2 with the given parts; throws what exiv2
// throws.
std::vector<uint8_t> Rewrite(const std::vector<uint8_t>& encoded, UserData ud, unsigned parts) {
  Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(encoded.data(), long(encoded.size()));
  if (image.get() == nullptr) throw Exiv2::Error(Exiv2::kerMemoryContainsUnknownImageType);
  image->readMetadata();
  for (Part part : kParts) {
    if ((parts & part) != 0) PutPart(part, ud, image.get());
  }
  image->writeMetadata();
  Exiv2::BasicIo& io = image->io();
  if (io.open() != 0) throw Exiv2::Error(Exiv2::kerDataSourceOpenFailed, "memory");
  std::vector<uint8_t> written(io.size());
  const long got = written.empty() ? 0 : io.read(written.data(), long(written.size()));
  io.close();
  if (got != long(written.size())) throw Exiv2::Error(Exiv2::kerInputDataReadFailed);
  return written;
}

// JPEG and TIFF take everything through exiv2; PNG only the XMP packet and
// the ICC profile (exiv2 would write the Exif block in the older hexadecimal
// text form, which hides the maker note's bytes). When exiv2 refuses the
// whole, the parts go in one at a time, each kept if exiv2 takes it; only a
// file it will not rewrite even bare is an error.
OSErr WriteWithExiv2(std::vector<uint8_t>* encoded, UserData ud, unsigned parts) {
  if (encoded->size() > size_t(std::numeric_limits<long>::max())) return paramErr;
  try {
    *encoded = Rewrite(*encoded, ud, parts);
    return noErr;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {  // exiv2's errors among them
  }
  std::vector<uint8_t> best;
  try {
    best = Rewrite(*encoded, ud, 0);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
    return codecErr;
  }
  unsigned taken = 0;
  for (Part part : kParts) {
    if ((parts & part) == 0 || (part == kMakerNotePart && (taken & kExifPart) == 0)) continue;
    try {
      best = Rewrite(*encoded, ud, taken | part);
      taken |= part;
    } catch (const std::bad_alloc&) {
      throw;
    } catch (const std::exception&) {
      // This part is left out; the others still go in.
    }
  }
  *encoded = std::move(best);
  return noErr;
}

ItemBytes ItemOrNothing(UserData ud, OSType type) {
  return ReadItem(ud, type, 1).value_or(ItemBytes{});
}

OSErr WriteWebp(std::vector<uint8_t>* webp, UserData ud, bool exifEnabled) {
  WebpChunks chunks;
  if (exifEnabled) chunks.exif = ExifBlockOfItems(ud);
  chunks.xmp = ItemOrNothing(ud, kXmpItem);
  chunks.icc = ItemOrNothing(ud, kIccItem);
  return PutWebpChunks(chunks, webp) ? noErr : codecErr;
}

// PNG: the Exif block as an eXIf chunk, texts and the chunks describing
// the pixels as chunks of their own, the rest through exiv2.
OSErr WritePng(std::vector<uint8_t>* png, UserData ud, bool exifEnabled) {
  if (OSErr err = WriteWithExiv2(png, ud, kXmpPart)) return err;
  PutPngIccChunk(ud, png);
  if (exifEnabled) PutPngExifChunk(EncodeExifItems(ud, LooseTextItems::kLeaveOut), png);
  PutPngTextItems(ud, png);
  PutPngImageChunkItems(ud, png);
  PutPngDensityFromOthers(ud, png);
  return noErr;
}

// A JPEG file gets the source's Exif block as it was laid out, changed in
// place, in a segment of its own; exiv2 would lay it out anew.
OSErr WriteJpegOrTiff(std::vector<uint8_t>* file, UserData ud, bool exifEnabled, bool jpeg) {
  const unsigned parts = kXmpPart | kIccPart | kCommentPart | kIptcPart;
  std::vector<uint8_t> block;
  if (exifEnabled && jpeg && !GetUserDataSourceExif(ud).empty()) {
    block = EncodeExifItems(ud, LooseTextItems::kToIfd0);
  }
  const bool ownSegment = !block.empty() && block.size() <= 65000;
  const unsigned exiv2Parts =
      exifEnabled && !ownSegment ? parts | kExifPart | kMakerNotePart : parts;
  // The Photoshop block goes in whole first; exiv2 then puts the IPTC
  // records into it, keeping the other resources. exiv2 refuses the whole
  // file for some blocks that hold together (an ImageReady resource, a name
  // of 255 characters): such a block goes in after exiv2, carrying its own
  // IPTC records.
  const ByteSpan photoshop = jpeg ? HeldPhotoshopBlock(ud) : ByteSpan{};
  bool written = false;
  if (!photoshop.empty()) {
    std::vector<uint8_t> withBlock = *file;
    PutJpegPhotoshopBlock(photoshop, &withBlock);
    written = WriteWithExiv2(&withBlock, ud, exiv2Parts) == noErr;
    if (written) *file = std::move(withBlock);
  }
  if (!written) {
    const unsigned without = photoshop.empty() ? exiv2Parts : exiv2Parts & ~kIptcPart;
    if (OSErr err = WriteWithExiv2(file, ud, without)) return err;
    PutJpegPhotoshopBlock(photoshop, file);
  }
  if (ownSegment) PutJpegExifSegment(block, file);
  PutJfifDensityItem(ud, file);
  PutJfifDensityFromOthers(ud, file);
  // Last: the index counts the bytes of everything before it.
  if (jpeg) PutJpegGainMap(GetUserDataGainMap(ud), GetUserDataGainMapIsoVersion(ud), file);
  return noErr;
}

// BigTIFF: "II" or "MM", then 43.
bool IsBigTiff(ByteSpan file) {
  return file.size() >= 4 && ((std::memcmp(file.data(), "II\x2B\x00", 4) == 0) ||
                              (std::memcmp(file.data(), "MM\x00\x2B", 4) == 0));
}

}  // namespace

OSErr WriteFileMetaData(const ImageFormat& format, std::vector<uint8_t>* encoded, UserData ud,
                        bool exifEnabled) {
  if (encoded == nullptr || ud == nullptr) return paramErr;
  const MetadataWriting writing = format.metadataWriting;
  if (writing == MetadataWriting::kByEncoder) return noErr;
  // exiv2 cannot write BigTIFF, which a large TIFF output becomes.
  if (writing == MetadataWriting::kTiff && IsBigTiff(*encoded)) return noErr;
  InitMetaDataLibrary();
  std::vector<uint8_t> result;
  try {
    result = *encoded;
    OSErr err = noErr;
    switch (writing) {
      case MetadataWriting::kWebp:
        err = WriteWebp(&result, ud, exifEnabled);
        break;
      case MetadataWriting::kPng:
        err = WritePng(&result, ud, exifEnabled);
        break;
      case MetadataWriting::kJpeg:
      case MetadataWriting::kTiff:
        err = WriteJpegOrTiff(&result, ud, exifEnabled, writing == MetadataWriting::kJpeg);
        break;
      case MetadataWriting::kByEncoder:
        break;
    }
    if (err != noErr) return err;
  } catch (const Exiv2::AnyError&) {
    return codecErr;
  } catch (const std::bad_alloc&) {
    return memFullErr;
  } catch (const std::exception&) {
    return codecErr;
  }
  *encoded = std::move(result);
  return noErr;
}
