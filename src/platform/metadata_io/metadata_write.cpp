#include <exiv2/basicio.hpp>
#include <exiv2/error.hpp>
#include <exiv2/image.hpp>

#include <limits>
#include <new>
#include <string>

#include "platform/metadata_io/exif_items.h"
#include "platform/metadata_io/item_access.h"
#include "platform/metadata_io/item_types.h"
#include "platform/metadata_io/metadata_io.h"
#include "platform/metadata_io/png_text.h"
#include "platform/metadata_io/webp_metadata.h"

namespace {

std::string TextOf(const ItemBytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

bool Holds(const Exiv2::Image& image, Exiv2::MetadataId kind) {
  return image.supportsMetadata(kind);
}

void PutExif(UserData ud, Exiv2::Image* image) {
  if (!Holds(*image, Exiv2::mdExif)) return;
  Exiv2::ExifData exif = image->exifData();
  PutExifItems(ud, LooseTextItems::kToIfd0, &exif);
  image->setExifData(exif);
}

void PutXmp(UserData ud, Exiv2::Image* image) {
  if (!Holds(*image, Exiv2::mdXmp)) return;
  if (std::optional<ItemBytes> xmp = ReadItem(ud, kXmpItem, 1)) {
    image->setXmpPacket(TextOf(*xmp));
    image->writeXmpFromPacket(true);  // the packet as it came, not re-serialised
  }
}

// exiv2 0.27 does not list ICC profiles among what its formats support,
// though its JPEG, PNG and TIFF writers store them.
void PutIcc(UserData ud, Exiv2::Image* image) {
  std::optional<ItemBytes> icc = ReadItem(ud, kIccItem, 1);
  if (!icc || icc->size() > size_t(std::numeric_limits<long>::max())) return;
  Exiv2::DataBuf profile(icc->data(), long(icc->size()));
  try {
    image->setIccProfile(profile, true);
  } catch (const Exiv2::AnyError&) {
    // A profile exiv2 finds malformed is left out; the rest is written.
  }
}

// Only JPEG has a comment of its own; PNG gets its comment as a text chunk.
void PutComment(UserData ud, Exiv2::Image* image) {
  if (image->mimeType() != "image/jpeg") return;
  if (std::optional<ItemBytes> comment = ReadItem(ud, kCommentItem, 1)) {
    image->setComment(TextOf(*comment));
  }
}

// JPEG and TIFF take everything through exiv2; PNG only the XMP packet and
// the ICC profile (exiv2 would write the Exif block in the older hexadecimal
// text form, which hides the maker note's bytes).
OSErr WriteWithExiv2(std::vector<uint8_t>* encoded, UserData ud, bool putExif) {
  if (encoded->size() > size_t(std::numeric_limits<long>::max())) return paramErr;
  Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(encoded->data(), long(encoded->size()));
  if (image.get() == nullptr) return paramErr;
  image->readMetadata();
  if (putExif) PutExif(ud, image.get());
  PutXmp(ud, image.get());
  PutIcc(ud, image.get());
  PutComment(ud, image.get());
  image->writeMetadata();
  Exiv2::BasicIo& io = image->io();
  if (io.open() != 0) return ioErr;
  std::vector<uint8_t> written(io.size());
  const long got = written.empty() ? 0 : io.read(written.data(), long(written.size()));
  io.close();
  if (got != long(written.size())) return ioErr;
  *encoded = std::move(written);
  return noErr;
}

ItemBytes ItemOrNothing(UserData ud, OSType type) {
  return ReadItem(ud, type, 1).value_or(ItemBytes{});
}

OSErr WriteWebp(std::vector<uint8_t>* webp, UserData ud, bool exifEnabled) {
  WebpChunks chunks;
  if (exifEnabled) chunks.exif = EncodeExifItems(ud, LooseTextItems::kToIfd0);
  chunks.xmp = ItemOrNothing(ud, kXmpItem);
  chunks.icc = ItemOrNothing(ud, kIccItem);
  return PutWebpChunks(chunks, webp) ? noErr : codecErr;
}

// PNG: the Exif block as an eXIf chunk, texts as text chunks, the rest
// through exiv2.
OSErr WritePng(std::vector<uint8_t>* png, UserData ud, bool exifEnabled) {
  if (OSErr err = WriteWithExiv2(png, ud, false)) return err;
  if (exifEnabled) PutPngExifChunk(EncodeExifItems(ud, LooseTextItems::kLeaveOut), png);
  PutPngTextItems(ud, png);
  return noErr;
}

}  // namespace

OSErr WriteFileMetaData(std::vector<uint8_t>* encoded, UserData ud, bool exifEnabled) {
  if (encoded == nullptr || ud == nullptr) return paramErr;
  InitMetaDataLibrary();
  std::vector<uint8_t> result;
  try {
    result = *encoded;
    OSErr err = IsWebpFile(result)  ? WriteWebp(&result, ud, exifEnabled)
                : IsPngFile(result) ? WritePng(&result, ud, exifEnabled)
                                    : WriteWithExiv2(&result, ud, exifEnabled);
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

std::vector<uint8_t> ExifBlockOfItems(UserData ud) {
  if (ud == nullptr) return {};
  InitMetaDataLibrary();
  try {
    return EncodeExifItems(ud, LooseTextItems::kToIfd0);
  } catch (const Exiv2::AnyError&) {
  } catch (const std::exception&) {
  }
  return {};
}
