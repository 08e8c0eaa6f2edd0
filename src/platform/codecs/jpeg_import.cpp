// JPEG importer over TurboJPEG: 8-bit images drawn into 32-bit ARGB, grey
// expanded, CMYK and YCCK converted to RGB.
#include <cstring>
#include <vector>

#include "platform/codecs/export_rows.h"
#include "platform/codecs/jpeg_codec.h"
#include "platform/codecs/jpeg_rows.h"

namespace {

bool SniffJpeg(ByteSpan file) {
  return file.size() >= 3 && file[0] == 0xFF && file[1] == 0xD8 && file[2] == 0xFF;
}

struct JpegInfo {
  int width = 0;
  int height = 0;
  int colorspace = TJCS_RGB;
};

OSErr ReadJpegInfo(tjhandle handle, ByteSpan file, JpegInfo* info) {
  int subsampling = 0;
  if (tjDecompressHeader3(handle, file.data(), static_cast<unsigned long>(file.size()),
                          &info->width, &info->height, &subsampling, &info->colorspace) != 0) {
    return codecErr;
  }
  if (info->width < 1 || info->height < 1) return codecErr;
  return noErr;
}

OSErr ReadJpegHeader(ByteSpan file, ImageHeader* header) {
  TurboJpegHandle handle(tjInitDecompress());
  if (!handle) return memFullErr;
  JpegInfo info;
  if (OSErr err = ReadJpegInfo(handle.get(), file, &info)) return err;
  header->width = info.width;
  header->height = info.height;
  header->preferredPixelFormat = 0;
  header->drawsRowsInOrder = true;
  return noErr;
}

// Calls visit(marker, position, length) for each marker segment before the
// first scan, until visit answers true; answers whether one did.
template <class Visit>
bool VisitHeaderSegments(ByteSpan file, Visit visit) {
  size_t pos = 2;
  while (pos + 4 <= file.size() && file[pos] == 0xFF) {
    uint8_t marker = file[pos + 1];
    if (marker == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) return false;  // start of scan, end of image
    size_t length = size_t(file[pos + 2]) << 8 | file[pos + 3];
    if (visit(marker, pos, length)) return true;
    pos += 2 + length;
  }
  return false;
}

// Whether the file carries an Adobe APP14 segment before its first scan.
// Writers that add it (all libjpeg-based ones, Photoshop) store CMYK
// inverted, 255 meaning no ink; TurboJPEG does not say whether it saw one.
bool HasAdobeSegment(ByteSpan file) {
  return VisitHeaderSegments(file, [&](uint8_t marker, size_t pos, size_t length) {
    return marker == 0xEE && length >= 7 && pos + 9 <= file.size() &&
           std::memcmp(file.data() + pos + 4, "Adobe", 5) == 0;
  });
}

// Whether the frame is Huffman coded (every start-of-frame marker but the
// arithmetic ones, 0xC9 to 0xCF).
bool IsHuffmanCoded(ByteSpan file) {
  return VisitHeaderSegments(file, [](uint8_t marker, size_t, size_t) {
    return marker >= 0xC0 && marker <= 0xC7 && marker != 0xC4;
  });
}

// Huffman coding spends at least one bit on every 8 x 8 block, so a file
// with fewer bits than the image has blocks cannot hold that image. Such a
// header claims a picture (up to 65500 x 65500) that the data never paints;
// decoding it would fill gigabytes of grey for a file of a few bytes.
bool DataCanHoldImage(ByteSpan file, int64_t width, int64_t height) {
  if (!IsHuffmanCoded(file)) return true;
  const uint64_t blocks = uint64_t((width + 7) / 8) * uint64_t((height + 7) / 8);
  return uint64_t(file.size()) * 8 >= blocks;
}

// The ICC profile carried in APP2 segments: "ICC_PROFILE", a zero, the
// segment's number from 1 and their count, then its piece. Empty when a
// piece is missing or repeated.
std::vector<uint8_t> ReadIccProfile(ByteSpan file) {
  constexpr char kTag[] = "ICC_PROFILE";  // with its zero, 12 bytes
  constexpr size_t kHeader = 2 + sizeof(kTag) + 2;
  std::vector<ByteSpan> pieces;
  VisitHeaderSegments(file, [&](uint8_t marker, size_t pos, size_t length) {
    if (marker != 0xE2 || length < kHeader || pos + 2 + length > file.size() ||
        std::memcmp(file.data() + pos + 4, kTag, sizeof(kTag)) != 0) {
      return false;
    }
    const uint8_t number = file[pos + 4 + sizeof(kTag)];
    const uint8_t count = file[pos + 5 + sizeof(kTag)];
    if (pieces.empty()) pieces.resize(count);
    if (number < 1 || number > pieces.size() || count != pieces.size() ||
        !pieces[number - 1].empty()) {
      pieces.assign(1, {});  // damaged: no profile
      return true;
    }
    pieces[number - 1] = file.subspan(pos + 2 + kHeader, length - kHeader);
    return false;
  });
  std::vector<uint8_t> profile;
  for (ByteSpan piece : pieces) {
    if (piece.empty()) return {};
    profile.insert(profile.end(), piece.begin(), piece.end());
  }
  return profile;
}

void ReadJpegColour(ByteSpan file, ColourSource* colour) {
  TurboJpegHandle handle(tjInitDecompress());
  JpegInfo info;
  if (!handle || ReadJpegInfo(handle.get(), file, &info) != noErr) return;
  switch (info.colorspace) {
    case TJCS_GRAY:
      colour->model = ColourModel::kGrey;
      break;
    case TJCS_CMYK:
    case TJCS_YCCK:
      colour->model = ColourModel::kCmyk;
      break;
    default:
      colour->model = ColourModel::kRgb;
  }
  colour->icc = ReadIccProfile(file);
}

OSErr DrawJpeg(ByteSpan file, RowBand* dst, const ColourMatch* cmykMatch) {
  if (dst == nullptr) return paramErr;
  if (dst->PixelFormat() != k32ARGBPixelFormat) return cDepthErr;
  TurboJpegHandle handle(tjInitDecompress());
  if (!handle) return memFullErr;
  JpegInfo info;
  if (OSErr err = ReadJpegInfo(handle.get(), file, &info)) return err;
  if (info.width != BufferWidth(*dst) || info.height != BufferHeight(*dst)) return paramErr;
  if (!DataCanHoldImage(file, info.width, info.height)) return codecErr;

  const bool cmyk = info.colorspace == TJCS_CMYK || info.colorspace == TJCS_YCCK;
  return DecodeJpegRows(file, cmyk, cmyk && HasAdobeSegment(file), cmykMatch, dst);
}

}  // namespace

const ImporterCodec kJpegImporter = {
    FourCC("JPEG"), JpegCodecName, SniffJpeg, ReadJpegHeader, DrawJpeg,
    nullptr,        nullptr,       nullptr,   ReadJpegColour,
};
