// JPEG XL importer over libjxl: 8 to 16 bits (float samples included), grey
// or colour, with or without alpha; a file that reconstructs a JPEG is drawn
// as its image. The codestream's orientation is applied. libjxl 0.7 hands
// pixels out by groups, not in row order, and its pixel callback renders
// from a whole frame of floats of its own (a 12-megapixel file peaked at
// 193 MB through it, against 91 MB decoded whole), so the image is decoded
// whole into one buffer (counted against the memory limit) and then drawn
// from the top.
#include <jxl/decode.h>

#include <climits>
#include <memory>
#include <new>

#include "base/memory_limit.h"
#include "codecs/common/buffer_rows.h"
#include "codecs/common/import_rows.h"
#include "codecs/jxl/jxl_codec.h"
#include "codecs/jxl/jxl_decoder.h"
#include "codecs/jxl/jxl_metadata.h"

namespace {

// libjxl's own planes while it decodes: about four float samples a pixel.
constexpr uint64_t kDecoderBytesPerPixel = 16;

bool SniffJxl(ByteSpan file) {
  return IsJxlFile(file);
}

OSErr ReadInfo(ByteSpan file, JxlBasicInfo* info) {
  OwnedJxlDecoder decoder;
  if (OSErr err = StartJxlDecoder(file, JXL_DEC_BASIC_INFO, &decoder)) return err;
  if (Jxl().DecoderProcessInput(decoder.get()) != JXL_DEC_BASIC_INFO ||
      Jxl().DecoderGetBasicInfo(decoder.get(), info) != JXL_DEC_SUCCESS) {
    return codecErr;
  }
  return info->xsize < 1 || info->ysize < 1 || info->xsize > INT32_MAX || info->ysize > INT32_MAX
             ? codecErr
             : noErr;
}

OSErr ReadJxlHeader(ByteSpan file, ImageHeader* header) {
  JxlBasicInfo info;
  if (OSErr err = ReadInfo(file, &info)) return err;
  int64_t width = 0, height = 0;
  DrawnJxlSize(info, &width, &height);
  header->width = int32_t(width);
  header->height = int32_t(height);
  const bool grey = info.num_color_channels == 1;
  const bool alpha = info.alpha_bits > 0;
  header->preferredPixelFormat = info.bits_per_sample <= 8 ? 0
                                 : grey                    ? FourCC(alpha ? "b32a" : "b16g")
                                                           : FourCC(alpha ? "b64a" : "b48r");
  header->drawsRowsInOrder = true;
  header->drawnUpright = true;  // the decoder applies the codestream's orientation
  header->hasAlpha = alpha;
  return noErr;
}

// How the decoded samples are described: libjxl's coded colour space maps
// onto the same ISO/IEC 23091-2 codes as HEIF's; anything else is given as
// the ICC profile of the pixels the decoder hands out.
void ReadJxlColour(ByteSpan file, ColourSource* colour) {
  OwnedJxlDecoder decoder;
  if (StartJxlDecoder(file, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING, &decoder)) return;
  JxlDecoderStatus status;
  JxlBasicInfo info{};
  while ((status = Jxl().DecoderProcessInput(decoder.get())) == JXL_DEC_BASIC_INFO) {
    Jxl().DecoderGetBasicInfo(decoder.get(), &info);
  }
  if (status != JXL_DEC_COLOR_ENCODING) return;
  PreferSrgbSamples(decoder.get());
  const bool grey = info.num_color_channels == 1;
  colour->model = grey ? ColourModel::kGrey : ColourModel::kRgb;
  // Grey has no primaries (libjxl leaves them unset): grey on the sRGB
  // curve is sRGB's grey, any other grey is described by its profile.
  JxlColorEncoding encoding{};
  if (Jxl().DecoderGetColorAsEncodedProfile(decoder.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                            &encoding) == JXL_DEC_SUCCESS &&
      encoding.white_point == JXL_WHITE_POINT_D65 &&
      (grey ? encoding.color_space == JXL_COLOR_SPACE_GRAY &&
                  encoding.transfer_function == JXL_TRANSFER_FUNCTION_SRGB
            : encoding.color_space == JXL_COLOR_SPACE_RGB &&
                  encoding.primaries != JXL_PRIMARIES_CUSTOM &&
                  encoding.transfer_function != JXL_TRANSFER_FUNCTION_GAMMA)) {
    colour->hasNclx = true;
    colour->primaries = grey ? uint16_t(JXL_PRIMARIES_SRGB) : uint16_t(encoding.primaries);
    colour->transfer = uint16_t(encoding.transfer_function);
    return;
  }
  size_t size = 0;
  if (Jxl().DecoderGetICCProfileSize(decoder.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                     &size) != JXL_DEC_SUCCESS ||
      size == 0) {
    return;
  }
  std::vector<uint8_t> icc(size);
  if (Jxl().DecoderGetColorAsICCProfile(decoder.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                        icc.data(), size) == JXL_DEC_SUCCESS) {
    colour->icc = std::move(icc);
  }
}

OSErr Decode(ByteSpan file, const JxlPixelFormat& format, void* pixels, size_t bytes) {
  OwnedJxlDecoder decoder;
  if (OSErr err = StartJxlDecoder(
          file, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE, &decoder)) {
    return err;
  }
  for (;;) {
    switch (Jxl().DecoderProcessInput(decoder.get())) {
      case JXL_DEC_BASIC_INFO:
        break;
      case JXL_DEC_COLOR_ENCODING:
        PreferSrgbSamples(decoder.get());
        break;
      case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
        if (Jxl().DecoderSetImageOutBuffer(decoder.get(), &format, pixels, bytes) !=
            JXL_DEC_SUCCESS) {
          return codecErr;
        }
        break;
      case JXL_DEC_FULL_IMAGE:
        return noErr;  // the first frame is the image
      default:
        return codecErr;  // damaged, or data missing
    }
  }
}

OSErr DrawJxl(ByteSpan file, const DrawRequest& request) {
  RowBand* dst = request.rows;
  if (dst == nullptr) return paramErr;
  if (!IsDrawableFormat(dst->PixelFormat())) return cDepthErr;
  JxlBasicInfo info;
  if (OSErr err = ReadInfo(file, &info)) return err;
  int64_t width = 0, height = 0;
  DrawnJxlSize(info, &width, &height);
  if (width != BufferWidth(*dst) || height != BufferHeight(*dst)) return paramErr;
  const bool deep = dst->PixelFormat() != k32ARGBPixelFormat;
  const uint64_t sampleBytes = deep ? 2 : 1;
  const uint64_t pixelCount = uint64_t(width) * uint64_t(height);
  if (!WorkingBytesFit(pixelCount, 4 * sampleBytes + kDecoderBytesPerPixel)) return memFullErr;
  const size_t bytes = size_t(pixelCount * 4 * sampleBytes);
  std::unique_ptr<uint8_t[]> pixels(new (std::nothrow) uint8_t[bytes]);
  if (!pixels) return memFullErr;
  // Grey is spread to R, G, B by the decoder.
  const JxlPixelFormat format = {4, deep ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
  if (OSErr err = Decode(file, format, pixels.get(), bytes)) return err;
  for (int64_t y = 0; y < height; ++y) {
    const uint8_t* row = pixels.get() + y * width * 4 * int64_t(sampleBytes);
    if (deep) {
      StoreRgba16Row(reinterpret_cast<const uint16_t*>(row), dst, y);
    } else {
      StoreRgba8Row(row, dst, y);
    }
    if (!PublishDrawnRows(dst, y + 1)) return dst->StopError();
  }
  return noErr;
}

}  // namespace

const ImporterCodec kJxlImporter = {
    .format = &kJxlFormat,
    .name = JxlCodecName,
    .sniff = SniffJxl,
    .readHeader = ReadJxlHeader,
    .draw = DrawJxl,
    .readMetaData = ReadJxlMetaData,
    .readColour = ReadJxlColour,
    .openAnimation = OpenJxlAnimation,
    .countFrames = CountJxlFrames,
    .available = JxlLoads,
};
