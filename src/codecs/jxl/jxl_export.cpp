// JPEG XL exporter over libjxl: 8 bits a channel, or 16 from a "b48r" or
// "b64a" buffer in colour; alpha at depth 32, grey at the grey depths. At
// quality 1024 and above lossless (the samples come back exactly); below,
// the quality percent round(q * 100 / 1023) becomes a distance as cjxl maps
// its quality. The Exif and XMP boxes and the ICC profile are written here,
// as libjxl places them; an Exif orientation becomes the codestream's.
#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "base/item_types.h"
#include "base/memory_limit.h"
#include "codecs/common/begin_export.h"
#include "codecs/common/buffer_rows.h"
#include "codecs/common/row_packer.h"
#include "codecs/jxl/jxl_codec.h"
#include "codecs/jxl/jxl_library.h"
#include "metadata_blocks/exif_items.h"
#include "metadata_blocks/item_access.h"
#include "platform/quality.h"

namespace {

constexpr int64_t kLargestSide = int64_t(1) << 30;
constexpr size_t kOutputChunk = size_t(1) << 16;

struct EncoderDelete {
  void operator()(JxlEncoder* encoder) const { Jxl().EncoderDestroy(encoder); }
};
struct RunnerDelete {
  void operator()(void* runner) const { Jxl().ThreadParallelRunnerDestroy(runner); }
};

// cjxl's mapping of a quality percent to a Butteraugli distance.
float DistanceForPercent(int percent) {
  if (percent >= 30) return 0.1f + float(100 - percent) * 0.09f;
  return 6.4f + std::pow(2.5f, float(30 - percent) / 5.0f) / 6.25f;
}

struct Packed {
  RowLayout layout = RowLayout::kRGB8;
  std::vector<uint8_t> bytes;
};

OSErr PackImage(RowBand& image, ExportChannels channels, Packed* packed) {
  const int64_t width = BufferWidth(image);
  const int64_t height = BufferHeight(image);
  const bool deep = IsSixteenBitFormat(image.PixelFormat()) && channels != ExportChannels::kGrey;
  const bool alpha = channels == ExportChannels::kColourAlpha;
  packed->layout = channels == ExportChannels::kGrey ? RowLayout::kGrey8
                   : deep  ? (alpha ? RowLayout::kRGBA16 : RowLayout::kRGB16)
                   : alpha ? RowLayout::kRGBA8
                           : RowLayout::kRGB8;
  const int64_t rowBytes = width * BytesPerPixel(packed->layout);
  if (!WorkingBytesFit(uint64_t(rowBytes), uint64_t(height))) return memFullErr;
  RowPacker packer;
  if (OSErr err = packer.Prepare(image, packed->layout)) return err;
  try {
    packed->bytes.resize(size_t(rowBytes * height));
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  for (int64_t y = 0; y < height; ++y) {
    if (OSErr err = packer.Pack(y, packed->bytes.data() + y * rowBytes)) return err;
  }
  return noErr;
}

// The Exif orientation the metadata brings (1 to 8), else upright. JPEG XL
// readers follow the codestream's orientation and ignore the Exif one, so
// it goes into the codestream too.
JxlOrientation OrientationOfItems(UserData ud) {
  constexpr OSType kOrientation = kTiffItemBase + 0x0112;
  std::optional<ItemBytes> item = ud != nullptr ? ReadItem(ud, kOrientation, 1) : std::nullopt;
  if (!item) return JXL_ORIENT_IDENTITY;
  const std::optional<int64_t> value =
      FirstIntegerOfItem(*item, GetUserDataItemTiffType(ud, kOrientation, 1));
  if (!value || *value < 1 || *value > 8) return JXL_ORIENT_IDENTITY;
  return JxlOrientation(*value);
}

OSErr SetInfo(JxlEncoder* encoder, const ExportImage& image, RowLayout layout, bool lossless,
              JxlOrientation orientation) {
  const bool deep = layout == RowLayout::kRGB16 || layout == RowLayout::kRGBA16;
  const bool alpha = layout == RowLayout::kRGBA8 || layout == RowLayout::kRGBA16;
  JxlBasicInfo info;
  Jxl().EncoderInitBasicInfo(&info);
  info.xsize = uint32_t(image.width);
  info.ysize = uint32_t(image.height);
  info.bits_per_sample = deep ? 16 : 8;
  info.num_color_channels = layout == RowLayout::kGrey8 ? 1 : 3;
  info.alpha_bits = alpha ? info.bits_per_sample : 0;
  info.num_extra_channels = alpha ? 1 : 0;
  info.uses_original_profile = lossless ? JXL_TRUE : JXL_FALSE;
  info.orientation = orientation;
  // Level 5 holds up to 2^18 pixels a side and 2^28 in all; beyond, level 10.
  const bool large = image.width > (int64_t(1) << 18) || image.height > (int64_t(1) << 18) ||
                     image.width * image.height > (int64_t(1) << 28);
  if (large && Jxl().EncoderSetCodestreamLevel(encoder, 10) != JXL_ENC_SUCCESS) return codecErr;
  if (Jxl().EncoderSetBasicInfo(encoder, &info) != JXL_ENC_SUCCESS) return paramErr;
  return noErr;
}

// An ICC profile the metadata brings describes the samples; else sRGB.
OSErr SetColour(JxlEncoder* encoder, UserData ud, bool grey) {
  if (ud != nullptr) {
    std::optional<ItemBytes> icc = ReadItem(ud, kIccItem, 1);
    if (icc && !icc->empty() &&
        Jxl().EncoderSetICCProfile(encoder, icc->data(), icc->size()) == JXL_ENC_SUCCESS) {
      return noErr;
    }
  }
  JxlColorEncoding srgb;
  Jxl().ColorEncodingSetToSRGB(&srgb, grey ? JXL_TRUE : JXL_FALSE);
  return Jxl().EncoderSetColorEncoding(encoder, &srgb) == JXL_ENC_SUCCESS ? noErr : codecErr;
}

// The Exif box holds a 4-byte offset to the TIFF header (0) before it.
void AddMetaDataBoxes(JxlEncoder* encoder, UserData ud, bool exifEnabled) {
  if (exifEnabled) {
    std::vector<uint8_t> exif = ExifBlockOfItems(ud);
    if (!exif.empty()) {
      exif.insert(exif.begin(), 4, 0);
      Jxl().EncoderAddBox(encoder, "Exif", exif.data(), exif.size(), JXL_FALSE);
    }
  }
  std::optional<ItemBytes> xmp = ReadItem(ud, kXmpItem, 1);
  if (xmp && !xmp->empty())
    Jxl().EncoderAddBox(encoder, "xml ", xmp->data(), xmp->size(), JXL_FALSE);
}

OSErr WriteOutput(JxlEncoder* encoder, ByteSink* out) {
  std::vector<uint8_t> chunk(kOutputChunk);
  for (;;) {
    uint8_t* next = chunk.data();
    size_t room = chunk.size();
    const JxlEncoderStatus status = Jxl().EncoderProcessOutput(encoder, &next, &room);
    if (next != chunk.data()) {
      if (OSErr err = out->Append(chunk.data(), size_t(next - chunk.data()))) return err;
    }
    if (status == JXL_ENC_SUCCESS) return noErr;
    if (status != JXL_ENC_NEED_MORE_OUTPUT) {
      return Jxl().EncoderGetError(encoder) == JXL_ENC_ERR_OOM ? memFullErr : codecErr;
    }
  }
}

// libjxl's working memory beside the buffer being written, measured at
// quality 75 (peak of the process at 0.7, 2.6 and 12 MP, less that
// buffer): about 82 bytes a pixel and 21 MB; a little more is asked.
constexpr uint64_t kEncoderBytesPerPixel = 84;
constexpr uint64_t kEncoderFixedBytes = uint64_t(24) << 20;

OSErr EncodeJxl(const ExportRequest& request, ByteSink* out) {
  if (LoadJxl() == nullptr) return noHandlerErr;
  ExportImage begun;
  if (OSErr err = BeginExport(request, out, kLargestSide, &begun)) return err;
  const uint64_t pixels = uint64_t(begun.width) * uint64_t(begun.height);
  if (pixels > (UINT64_MAX - kEncoderFixedBytes) / kEncoderBytesPerPixel ||
      !WorkingBytesFit(pixels * kEncoderBytesPerPixel + kEncoderFixedBytes)) {
    return memFullErr;
  }
  Packed packed;
  if (OSErr err = PackImage(*begun.rows, ChannelsForDepth(request.depth), &packed)) return err;

  std::unique_ptr<JxlEncoder, EncoderDelete> encoder(Jxl().EncoderCreate(nullptr));
  if (!encoder) return memFullErr;
  std::unique_ptr<void, RunnerDelete> runner(Jxl().ThreadParallelRunnerCreate(
      nullptr, Jxl().ThreadParallelRunnerDefaultNumWorkerThreads()));
  if (runner)
    Jxl().EncoderSetParallelRunner(encoder.get(), Jxl().ThreadParallelRunner, runner.get());
  const bool lossless = request.quality >= codecLosslessQuality;
  const bool boxes = request.metaData != nullptr;
  if (boxes) Jxl().EncoderUseBoxes(encoder.get());
  const JxlOrientation orientation =
      request.exifEnabled ? OrientationOfItems(request.metaData) : JXL_ORIENT_IDENTITY;
  if (OSErr err = SetInfo(encoder.get(), begun, packed.layout, lossless, orientation)) return err;
  if (OSErr err = SetColour(encoder.get(), request.metaData, packed.layout == RowLayout::kGrey8)) {
    return err;
  }
  JxlEncoderFrameSettings* settings = Jxl().EncoderFrameSettingsCreate(encoder.get(), nullptr);
  if (settings == nullptr) return memFullErr;
  // Effort 0 ... 9 as libjxl's 1 ... 9 (0 is as fast as it goes).
  if (request.effort >= 0) {
    Jxl().EncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT,
                                        std::max(1, request.effort));
  }
  if (lossless) {
    Jxl().EncoderSetFrameLossless(settings, JXL_TRUE);
  } else {
    Jxl().EncoderSetFrameDistance(settings, DistanceForPercent(QualityPercent(request.quality)));
  }
  if (boxes) AddMetaDataBoxes(encoder.get(), request.metaData, request.exifEnabled);

  const bool deep = packed.layout == RowLayout::kRGB16 || packed.layout == RowLayout::kRGBA16;
  const JxlPixelFormat format = {uint32_t(BytesPerPixel(packed.layout) / (deep ? 2 : 1)),
                                 deep ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8, JXL_BIG_ENDIAN, 0};
  if (Jxl().EncoderAddImageFrame(settings, &format, packed.bytes.data(), packed.bytes.size()) !=
      JXL_ENC_SUCCESS) {
    return Jxl().EncoderGetError(encoder.get()) == JXL_ENC_ERR_OOM ? memFullErr : codecErr;
  }
  packed.bytes = {};
  Jxl().EncoderCloseInput(encoder.get());
  return WriteOutput(encoder.get(), out);
}

}  // namespace

const ExporterCodec kJxlExporter = {
    .format = &kJxlFormat,
    .name = JxlCodecName,
    .encode = EncodeJxl,
    .available = JxlLoads,
};
