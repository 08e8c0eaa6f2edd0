// JPEG exporter over TurboJPEG: colour (depth 24 and 32) or grey (8, 40);
// 16-bit buffers are reduced to 8 bits, alpha is dropped.
#include <algorithm>
#include <bit>
#include <new>

#include "platform/codecs/export_rows.h"
#include "platform/codecs/jpeg_codec.h"

namespace {

constexpr int kNativeArgb = std::endian::native == std::endian::little ? TJPF_BGRA : TJPF_ARGB;
constexpr int64_t kMaxJpegDimension = 65500;  // libjpeg's limit
// From this quality on, chroma keeps full resolution; below it 4:2:0 costs
// less than the quantisation already does.
constexpr int kFullChromaPercent = 90;

// round(quality * 100 / 1023), within 1 ... 100; lossless requests (1024 and
// above) get the best JPEG there is.
int QualityPercent(int32_t quality) {
  int64_t q = std::clamp<int64_t>(quality, 0, 1023);
  return int(std::clamp<int64_t>((q * 200 + 1023) / 2046, 1, 100));
}

// The pixels as TurboJPEG reads them: the buffer itself where its layout is
// one TurboJPEG knows, else a packed 8-bit RGB copy.
struct JpegSource {
  const unsigned char* pixels = nullptr;
  int pitch = 0;
  int pixelFormat = TJPF_RGB;
  std::vector<uint8_t> packed;
};

OSErr PrepareSource(const GWorld& image, JpegSource* source) {
  switch (image.pixMap.pixelFormat) {
    case k32ARGBPixelFormat:
    case k8IndexedPixelFormat:
    case k8IndexedGrayPixelFormat:
      source->pixels = static_cast<const unsigned char*>(image.pixMap.baseAddr);
      source->pitch = image.pixMap.rowBytes;
      source->pixelFormat =
          image.pixMap.pixelFormat == k32ARGBPixelFormat ? kNativeArgb : TJPF_GRAY;
      return noErr;
    case k48RGBCodecType:
    case k64ARGBPixelFormat:
      break;
    default:
      return cDepthErr;
  }
  RowPacker packer;
  if (OSErr err = packer.Prepare(image, RowLayout::kRGB8)) return err;
  const int64_t rowBytes = BufferWidth(image) * 3;
  try {
    source->packed.resize(size_t(rowBytes * BufferHeight(image)));
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  for (int64_t y = 0; y < BufferHeight(image); ++y) {
    packer.Pack(y, source->packed.data() + y * rowBytes);
  }
  source->pixels = source->packed.data();
  source->pitch = int(rowBytes);
  source->pixelFormat = TJPF_RGB;
  return noErr;
}

int ChooseSubsampling(const JpegSource& source, int32_t depth, int percent) {
  if (source.pixelFormat == TJPF_GRAY) return TJSAMP_GRAY;
  if (ChannelsForDepth(depth) == ExportChannels::kGrey) return TJSAMP_GRAY;
  return percent >= kFullChromaPercent ? TJSAMP_444 : TJSAMP_420;
}

struct TurboJpegBufferFree {
  void operator()(unsigned char* p) const { tjFree(p); }
};

OSErr EncodeJpeg(const ExportRequest& request, std::vector<uint8_t>* out) {
  if (request.image == nullptr || request.image->pixMap.baseAddr == nullptr || out == nullptr) {
    return paramErr;
  }
  const GWorld& image = *request.image;
  const int64_t width = BufferWidth(image);
  const int64_t height = BufferHeight(image);
  if (width < 1 || height < 1 || width > kMaxJpegDimension || height > kMaxJpegDimension) {
    return paramErr;
  }
  JpegSource source;
  if (OSErr err = PrepareSource(image, &source)) return err;
  const int percent = QualityPercent(request.quality);
  const int subsampling = ChooseSubsampling(source, request.depth, percent);

  TurboJpegHandle handle(tjInitCompress());
  if (!handle) return memFullErr;
  unsigned char* encoded = nullptr;
  unsigned long encodedSize = 0;
  int status = tjCompress2(handle.get(), source.pixels, int(width), source.pitch, int(height),
                           source.pixelFormat, &encoded, &encodedSize, subsampling, percent,
                           TJFLAG_ACCURATEDCT);
  std::unique_ptr<unsigned char, TurboJpegBufferFree> owned(encoded);
  if (status != 0 && tjGetErrorCode(handle.get()) != TJERR_WARNING) return codecErr;
  if (encoded == nullptr) return codecErr;
  try {
    out->assign(encoded, encoded + encodedSize);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  return noErr;
}

}  // namespace

const ExporterCodec kJpegExporter = {
    FourCC("JPEG"),
    FourCC("jpg "),
    JpegCodecName,
    EncodeJpeg,
};
