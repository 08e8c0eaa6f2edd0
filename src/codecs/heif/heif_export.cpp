// HEIC and AVIF exporters over libheif's HEVC and AV1 encoders: 8 bits a
// channel from 8-bit buffers; a 16-bit buffer in colour is written with 10
// bits (HEIC) or 12 bits (AVIF: the libheif 1.15 and libaom 3.6 pair
// aborts on 10-bit input, while 12 bits round-trip). Alpha at depth 32, grey
// depths as 8-bit grey colour. Lossy at quality percent round(q * 100 / 1023); at 1024 and
// above lossless coding with full chroma, asking for the colour to be coded
// as G, B, R; libheif 1.15 still passes it through YCbCr 4:4:4, which costs
// at most a level of rounding (alpha stays exact), later versions do not.
#include <algorithm>
#include <climits>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "base/encoder_turns.h"
#include "base/item_types.h"
#include "base/memory_limit.h"
#include "codecs/common/begin_export.h"
#include "codecs/common/buffer_rows.h"
#include "codecs/common/row_packer.h"
#include "codecs/heif/heif_codec.h"
#include "metadata_blocks/exif_items.h"
#include "metadata_blocks/item_access.h"
#include "platform/quality.h"

namespace {

OSErr FromHeifError(const heif_error& error) {
  if (error.code == heif_error_Ok) return noErr;
  return error.code == heif_error_Memory_allocation_error ? memFullErr : codecErr;
}

// The buffer as an interleaved RGB or RGBA libheif image of the given bits a
// sample: 8-bit samples packed as they are (grey spread to R, G, B), deeper
// ones from the 16-bit rows scaled to their range, rounded.
OSErr MakeImage(RowBand& source, ExportChannels channels, int bits,
                std::unique_ptr<heif_image, HeifRelease>* image) {
  const int64_t width = BufferWidth(source);
  const int64_t height = BufferHeight(source);
  const bool alpha = channels == ExportChannels::kColourAlpha;
  const bool deep = bits > 8;
  const RowLayout layout = deep    ? (alpha ? RowLayout::kRGBA16 : RowLayout::kRGB16)
                           : alpha ? RowLayout::kRGBA8
                           : channels == ExportChannels::kGrey ? RowLayout::kGrey8
                                                               : RowLayout::kRGB8;
  const heif_chroma chroma =
      deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_BE : heif_chroma_interleaved_RRGGBB_BE)
           : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
  RowPacker packer;
  if (OSErr err = packer.Prepare(source, layout)) return err;
  heif_image* created = nullptr;
  if (OSErr err = FromHeifError(
          Heif().image_create(int(width), int(height), heif_colorspace_RGB, chroma, &created))) {
    return err;
  }
  image->reset(created);
  if (OSErr err = FromHeifError(Heif().image_add_plane(created, heif_channel_interleaved,
                                                       int(width), int(height), bits))) {
    return err;
  }
  int stride = 0;
  uint8_t* plane = Heif().image_get_plane(created, heif_channel_interleaved, &stride);
  if (plane == nullptr) return memFullErr;
  const uint32_t max = (1u << bits) - 1;
  const int64_t samples = width * BytesPerPixel(layout) / 2;
  for (int64_t y = 0; y < height; ++y) {
    uint8_t* row = plane + y * stride;
    if (OSErr err = packer.Pack(y, row)) return err;
    if (deep) {
      for (int64_t i = 0; i < samples; ++i) {
        const uint32_t v = (uint32_t(row[2 * i]) << 8 | row[2 * i + 1]) * max;
        const uint32_t scaled = (v + 32767) / 65535;
        row[2 * i] = uint8_t(scaled >> 8);
        row[2 * i + 1] = uint8_t(scaled);
      }
    } else if (layout == RowLayout::kGrey8) {
      for (int64_t x = width - 1; x >= 0; --x) {
        row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = row[x];
      }
    }
  }
  return noErr;
}

// Lossless coding with the identity matrix and 4:4:4 chroma.
OSErr ConfigureLossless(heif_encoder* encoder, heif_encoding_options* options,
                        std::unique_ptr<heif_color_profile_nclx, HeifRelease>* nclx) {
  if (OSErr err = FromHeifError(Heif().encoder_set_lossless(encoder, 1))) return err;
  Heif().encoder_set_parameter_string(encoder, "chroma", "444");
  nclx->reset(Heif().nclx_color_profile_alloc());
  if (!*nclx) return memFullErr;
  (*nclx)->matrix_coefficients = heif_matrix_coefficients_RGB_GBR;
  (*nclx)->color_primaries = heif_color_primaries_ITU_R_BT_709_5;
  (*nclx)->transfer_characteristics = heif_transfer_characteristic_IEC_61966_2_1;
  (*nclx)->full_range_flag = 1;
  options->output_nclx_profile = nclx->get();
  return noErr;
}

// exiv2 cannot write HEIF files, so libheif stores the metadata itself. As
// in the other formats, metadata libheif refuses is left out and the image
// is still written.
void SetIccProfile(UserData ud, heif_image* image) {
  std::optional<ItemBytes> icc = ReadItem(ud, kIccItem, 1);
  if (icc && !icc->empty()) {
    Heif().image_set_raw_color_profile(image, "prof", icc->data(), icc->size());
  }
}

void AddMetaDataBlocks(UserData ud, bool exifEnabled, heif_context* context,
                       const heif_image_handle* primary) {
  if (exifEnabled) {
    const std::vector<uint8_t> exif = ExifBlockOfItems(ud);
    if (!exif.empty() && exif.size() <= size_t(INT_MAX)) {
      Heif().context_add_exif_metadata(context, primary, exif.data(), int(exif.size()));
    }
  }
  std::optional<ItemBytes> xmp = ReadItem(ud, kXmpItem, 1);
  if (xmp && !xmp->empty() && xmp->size() <= size_t(INT_MAX)) {
    Heif().context_add_XMP_metadata(context, primary, xmp->data(), int(xmp->size()));
  }
}

struct SinkWrite {
  ByteSink* out = nullptr;
  OSErr error = noErr;
};

// libheif gives the file in one piece.
heif_error WriteToSink(heif_context*, const void* data, size_t size, void* userdata) {
  auto* sink = static_cast<SinkWrite*>(userdata);
  sink->error = sink->out->Append(data, size);
  if (sink->error != noErr) {
    return {heif_error_Encoding_error, heif_suberror_Cannot_write_output_data, "cannot write"};
  }
  return {heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

// The encoders' working memory beside the buffer being written, measured
// at quality 75 (peak of the process at 0.7, 2.6 and 12 MP, less that
// buffer): x265 about 13 bytes a pixel and 14 MB, libaom about 17 and
// 11 MB; a little more is asked.
constexpr uint64_t kFixedBytes = uint64_t(16) << 20;
uint64_t BytesPerPixel(heif_compression_format format) {
  return format == heif_compression_HEVC ? 14 : 18;
}

// x265's presets, fastest first: one for each effort 0 ... 9.
constexpr const char* kX265Presets[] = {"ultrafast", "superfast", "veryfast", "faster",
                                        "fast",      "medium",    "slow",     "slower",
                                        "veryslow",  "placebo"};

// An effort 0 ... 9 as libaom's speed 9 ... 0 or x265's preset; -1 leaves
// libheif's defaults (speed 6, preset "slow").
OSErr SetEffort(heif_encoder* encoder, heif_compression_format format, int32_t effort) {
  if (effort < 0 || effort > 9) return noErr;
  return FromHeifError(
      format == heif_compression_AV1
          ? Heif().encoder_set_parameter_integer(encoder, "speed", 9 - effort)
          : Heif().encoder_set_parameter_string(encoder, "preset", kX265Presets[effort]));
}

OSErr EncodeHeif(const ExportRequest& request, heif_compression_format format, int deepBits,
                 ByteSink* out) {
  ExportImage begun;
  if (OSErr err = BeginExport(request, out, INT32_MAX, &begun)) return err;
  const uint64_t pixels = uint64_t(begun.width) * uint64_t(begun.height);
  if (pixels > (UINT64_MAX - kFixedBytes) / BytesPerPixel(format) ||
      !WorkingBytesFit(pixels * BytesPerPixel(format) + kFixedBytes)) {
    return memFullErr;
  }
  RowBand& source = *begun.rows;
  if (LoadHeif() == nullptr) return noHandlerErr;
  HeifContext context(Heif().context_alloc());
  if (!context) return memFullErr;
  heif_encoder* rawEncoder = nullptr;
  if (Heif().context_get_encoder_for_format(context.get(), format, &rawEncoder).code !=
      heif_error_Ok) {
    return codecErr;
  }
  std::unique_ptr<heif_encoder, HeifRelease> encoder(rawEncoder);
  std::unique_ptr<heif_encoding_options, HeifRelease> options(Heif().encoding_options_alloc());
  if (!options) return memFullErr;
  std::unique_ptr<heif_color_profile_nclx, HeifRelease> nclx;
  if (request.quality >= codecLosslessQuality) {
    if (OSErr err = ConfigureLossless(encoder.get(), options.get(), &nclx)) return err;
  } else if (OSErr err = FromHeifError(Heif().encoder_set_lossy_quality(
                 encoder.get(), QualityPercent(request.quality)))) {
    return err;
  }
  if (OSErr err = SetEffort(encoder.get(), format, request.effort)) return err;

  std::unique_ptr<heif_image, HeifRelease> image;
  const ExportChannels channels = ChannelsForDepth(request.depth);
  const bool deep = IsSixteenBitFormat(source.PixelFormat()) && channels != ExportChannels::kGrey;
  if (OSErr err = MakeImage(source, channels, deep ? deepBits : 8, &image)) return err;
  if (request.metaData != nullptr) SetIccProfile(request.metaData, image.get());
  heif_image_handle* rawPrimary = nullptr;
  {
    // The picture is copied from its rows: only now may it wait its turn.
    const HeavyEncoderTurn turn;
    if (OSErr err = FromHeifError(Heif().context_encode_image(
            context.get(), image.get(), encoder.get(), options.get(), &rawPrimary))) {
      return err;
    }
  }
  std::unique_ptr<heif_image_handle, HeifRelease> primary(rawPrimary);
  if (request.metaData != nullptr) {
    AddMetaDataBlocks(request.metaData, request.exifEnabled, context.get(), primary.get());
  }
  SinkWrite sink{out, noErr};
  heif_writer writer = {1, WriteToSink};
  if (Heif().context_write(context.get(), &writer, &sink).code != heif_error_Ok) {
    return sink.error != noErr ? sink.error : codecErr;
  }
  return noErr;
}

OSErr EncodeHeic(const ExportRequest& request, ByteSink* out) {
  return EncodeHeif(request, heif_compression_HEVC, 10, out);
}

OSErr EncodeAvif(const ExportRequest& request, ByteSink* out) {
  return EncodeHeif(request, heif_compression_AV1, 12, out);
}

bool EncoderAvailable(heif_compression_format format) {
  if (LoadHeif() == nullptr) return false;
  // Asks the encoder plug-ins themselves: heif_have_encoder_for_format
  // misses the AV1 encoder in some libheif builds.
  const heif_encoder_descriptor* found[1];
  return Heif().context_get_encoder_descriptors(nullptr, format, nullptr, found, 1) > 0;
}

}  // namespace

bool HeicEncoderAvailable() {
  return EncoderAvailable(heif_compression_HEVC);
}
bool AvifEncoderAvailable() {
  return EncoderAvailable(heif_compression_AV1);
}

const ExporterCodec kHeicExporter = {
    .format = &kHeicFormat,
    .name = HeicCodecName,
    .encode = EncodeHeic,
    .available = HeicEncoderAvailable,
};

const ExporterCodec kAvifExporter = {
    .format = &kAvifFormat,
    .name = AvifCodecName,
    .encode = EncodeAvif,
    .available = AvifEncoderAvailable,
};
