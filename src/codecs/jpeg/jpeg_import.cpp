// JPEG importer over TurboJPEG: 8-bit images drawn into 32-bit ARGB, grey
// expanded, CMYK and YCCK converted to RGB.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

#include "base/big_endian.h"
#include "base/output_geometry.h"
#include "codecs/common/buffer_rows.h"
#include "codecs/jpeg/jpeg_codec.h"
#include "codecs/jpeg/jpeg_gain_map.h"
#include "codecs/jpeg/jpeg_rows.h"
#include "codecs/jpeg/jpeg_segments.h"

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
  header->drawsScaled = true;  // libjpeg's scaled inverse DCT
  return noErr;
}

// Whether the file carries an Adobe APP14 segment before its first scan.
// Writers that add it (all libjpeg-based ones, Photoshop) store CMYK
// inverted, 255 meaning no ink; TurboJPEG does not say whether it saw one.
bool HasAdobeSegment(ByteSpan file) {
  constexpr uint8_t kAdobe[] = {'A', 'd', 'o', 'b', 'e'};
  for (const JpegSegment& segment : JpegHeaderSegments(file)) {
    if (JpegSegmentIs(segment, 0xEE, kAdobe)) return true;
  }
  return false;
}

// Whether the frame is Huffman coded (every start-of-frame marker but the
// arithmetic ones, 0xC9 to 0xCF).
bool IsHuffmanCoded(ByteSpan file) {
  for (const JpegSegment& segment : JpegHeaderSegments(file)) {
    if (segment.marker >= 0xC0 && segment.marker <= 0xC7 && segment.marker != 0xC4) return true;
  }
  return false;
}

// Huffman coding spends at least one bit on every 8 x 8 block, so a file
// with fewer bits than the image has blocks cannot hold that image. Such a
// header claims a picture (up to 65500 x 65500) that the data never paints;
// decoding it would fill gigabytes of grey for a file of a few bytes.
bool DataCanHoldImage(ByteSpan header, uint64_t fileSize, int64_t width, int64_t height) {
  if (!IsHuffmanCoded(header)) return true;
  const uint64_t blocks = uint64_t((width + 7) / 8) * uint64_t((height + 7) / 8);
  return fileSize * 8 >= blocks;
}

// The ICC profile carried in APP2 segments: "ICC_PROFILE", a zero, the
// segment's number from 1 and their count, then its piece. Empty when a
// piece is missing or repeated.
std::vector<uint8_t> ReadIccProfile(ByteSpan file) {
  constexpr uint8_t kTag[] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
  constexpr size_t kHeader = sizeof(kTag) + 2;
  std::vector<ByteSpan> pieces;
  for (const JpegSegment& segment : JpegHeaderSegments(file)) {
    if (!JpegSegmentIs(segment, 0xE2, kTag) || segment.body.size() < kHeader) continue;
    const uint8_t number = segment.body[sizeof(kTag)];
    const uint8_t count = segment.body[sizeof(kTag) + 1];
    if (pieces.empty()) pieces.resize(count);
    if (number < 1 || number > pieces.size() || count != pieces.size() ||
        !pieces[number - 1].empty()) {
      return {};  // damaged: no profile
    }
    pieces[number - 1] = segment.body.subspan(kHeader);
  }
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

// What the decoding needs to know before it starts, from the segments
// before the first scan.
struct DrawPlan {
  bool cmyk = false;
  bool invertedCmyk = false;
};

OSErr PlanDraw(ByteSpan header, uint64_t fileSize, const DrawRequest& request, DrawPlan* plan) {
  const RowBand* dst = request.rows;
  if (dst == nullptr) return paramErr;
  if (request.scale != 1 && request.scale != 2 && request.scale != 4 && request.scale != 8) {
    return paramErr;
  }
  if (dst->PixelFormat() != k32ARGBPixelFormat) return cDepthErr;
  TurboJpegHandle handle(tjInitDecompress());
  if (!handle) return memFullErr;
  JpegInfo info;
  if (OSErr err = ReadJpegInfo(handle.get(), header, &info)) return err;
  if (DecodedSide(info.width, request.scale) != BufferWidth(*dst) ||
      DecodedSide(info.height, request.scale) != BufferHeight(*dst)) {
    return paramErr;
  }
  if (!DataCanHoldImage(header, fileSize, info.width, info.height)) return codecErr;
  plan->cmyk = info.colorspace == TJCS_CMYK || info.colorspace == TJCS_YCCK;
  plan->invertedCmyk = plan->cmyk && HasAdobeSegment(header);
  return noErr;
}

OSErr DrawJpeg(ByteSpan file, const DrawRequest& request) {
  DrawPlan plan;
  if (OSErr err = PlanDraw(file, file.size(), request, &plan)) return err;
  return DecodeJpegRows(
      file, {plan.cmyk, plan.invertedCmyk, request.cmyk, request.scale, request.threads},
      request.rows);
}

// Header segments are read from the file this many bytes at a time; a file
// whose segments before the first scan cannot be walked is read whole, as
// the memory path would take it.
constexpr uint64_t kSkeletonLimit = uint64_t(16) << 20;

bool ReadAt(int fd, uint64_t offset, size_t count, std::vector<uint8_t>* out) {
  const size_t start = out->size();
  out->resize(start + count);
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(fd, out->data() + start + done, count - done, off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

// The file's first bytes, read at once: the segments before the first scan
// nearly always lie within them, and are then walked in memory rather than
// with two reads each. Beyond them the file is read where asked.
class HeadWindow {
 public:
  static constexpr uint64_t kBytes = 16 << 10;
  HeadWindow(int fd, uint64_t size) : fd_(fd) {
    if (!::ReadAt(fd, 0, size_t(std::min(size, kBytes)), &start_)) start_.clear();
  }
  bool ReadAt(uint64_t offset, size_t count, std::vector<uint8_t>* out) const {
    if (offset > start_.size() || count > start_.size() - offset) {
      return ::ReadAt(fd_, offset, count, out);
    }
    const auto from = start_.begin() + std::ptrdiff_t(offset);
    out->insert(out->end(), from, from + std::ptrdiff_t(count));
    return true;
  }

 private:
  int fd_;
  std::vector<uint8_t> start_;
};

// The segments before the first scan, that scan's header and an end marker:
// a valid file without its image data.
OSErr ReadJpegHead(int fd, uint64_t size, std::vector<uint8_t>* skeleton) {
  skeleton->clear();
  try {
    const HeadWindow file(fd, size);
    uint64_t pos = 2;
    bool walked = file.ReadAt(0, 2, skeleton);
    while (walked) {
      std::vector<uint8_t> head;
      if (pos + 4 > size || !file.ReadAt(pos, 4, &head) || head[0] != 0xFF || head[1] == 0xFF ||
          head[1] == 0xD9) {
        walked = false;
        break;
      }
      const uint64_t length = ReadBigEndian16(head.data() + 2);
      if (length < 2 || pos + 2 + length > size || skeleton->size() + length > kSkeletonLimit ||
          !file.ReadAt(pos, size_t(2 + length), skeleton)) {
        walked = false;
        break;
      }
      pos += 2 + length;
      if (head[1] == 0xDA) break;  // start of scan
    }
    if (!walked) {
      skeleton->clear();
      if (!ReadAt(fd, 0, size_t(size), skeleton)) return ioErr;
      return noErr;
    }
    skeleton->insert(skeleton->end(), {0xFF, 0xD9});
  } catch (const std::bad_alloc&) {
    return memFullErr;
  } catch (const std::length_error&) {
    return memFullErr;
  }
  return noErr;
}

// The head, and a gain map its MPF index lists after the image's data:
// what the header and metadata readers need.
OSErr ReadJpegSkeleton(int fd, uint64_t size, std::vector<uint8_t>* skeleton) {
  if (OSErr err = ReadJpegHead(fd, size, skeleton)) return err;
  if (skeleton->size() == size) return noErr;  // read whole
  try {
    AppendMpfGainMap(
        size,
        [fd](uint64_t offset, size_t count, std::vector<uint8_t>* out) {
          return ReadAt(fd, offset, count, out);
        },
        skeleton);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  return noErr;
}

OSErr DrawJpegFromFile(int fd, uint64_t size, const DrawRequest& request) {
  std::vector<uint8_t> header;
  if (OSErr err = ReadJpegHead(fd, size, &header)) return err;
  DrawPlan plan;
  if (OSErr err = PlanDraw(ByteSpan(header), size, request, &plan)) return err;
  return DecodeJpegRowsFromFile(
      fd, size, {plan.cmyk, plan.invertedCmyk, request.cmyk, request.scale, request.threads},
      request.rows);
}

}  // namespace

const ImporterCodec kJpegImporter = {
    .format = &kJpegFormat,
    .name = JpegCodecName,
    .sniff = SniffJpeg,
    .readHeader = ReadJpegHeader,
    .draw = DrawJpeg,
    .readSkeleton = ReadJpegSkeleton,
    .drawFromFile = DrawJpegFromFile,
    .readColour = ReadJpegColour,
};
