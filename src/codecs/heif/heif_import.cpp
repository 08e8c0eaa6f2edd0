// HEIF importer over libheif: the primary image, with its alpha, as libheif
// presents it (its rotation, mirroring and cropping applied). 8-bit images
// are drawn into 32-bit ARGB; deeper ones (10, 12 bits) prefer "b48r" or
// "b64a", their samples scaled to the full 16 bits. Any decoding failure is
// codecErr: libheif gives no partial image.
#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "base/memory_limit.h"
#include "codecs/common/buffer_rows.h"
#include "codecs/common/import_rows.h"
#include "codecs/heif/heif_codec.h"
#include "codecs/heif/heif_metadata.h"

namespace {

// Wider rows than this cannot be held at 8 bytes a pixel within a buffer's
// 32-bit row stride.
constexpr int kMaxHeifDimension = 0x7FFFFFF0 / 8;

enum class HeifFamily { kNone, kHeic, kAvif };

bool BrandIs(const uint8_t* brand, std::initializer_list<const char*> names) {
  return std::any_of(names.begin(), names.end(),
                     [brand](const char* name) { return std::memcmp(brand, name, 4) == 0; });
}

// Which component a file belongs to, by its ftyp box: the major brand, or for
// the generic image brands the compatible ones.
HeifFamily FamilyOf(ByteSpan file) {
  if (file.size() < 16 || std::memcmp(file.data() + 4, "ftyp", 4) != 0) return HeifFamily::kNone;
  const uint8_t* major = file.data() + 8;
  if (BrandIs(major, {"avif", "avis"})) return HeifFamily::kAvif;
  if (BrandIs(major, {"heic", "heix", "heim", "heis", "hevc", "hevx", "hevm", "hevs"})) {
    return HeifFamily::kHeic;
  }
  if (!BrandIs(major, {"mif1", "msf1", "miaf"})) return HeifFamily::kNone;
  if (LoadHeif() == nullptr) return HeifFamily::kNone;
  const int length = int(std::min<size_t>(file.size(), INT_MAX));
  if (Heif().has_compatible_brand(file.data(), length, "avif") == 1 ||
      Heif().has_compatible_brand(file.data(), length, "avis") == 1) {
    return HeifFamily::kAvif;
  }
  return HeifFamily::kHeic;
}

// Without libheif the files are no one's, as if the codec were not built in.
bool SniffHeic(ByteSpan file) {
  return FamilyOf(file) == HeifFamily::kHeic && LoadHeif() != nullptr;
}
bool SniffAvif(ByteSpan file) {
  return FamilyOf(file) == HeifFamily::kAvif && LoadHeif() != nullptr;
}

bool HeifLoads() {
  return LoadHeif() != nullptr;
}

OSErr FromHeifError(const heif_error& error) {
  if (error.code == heif_error_Ok) return noErr;
  if (error.code == heif_error_Memory_allocation_error ||
      error.subcode == heif_suberror_Security_limit_exceeded) {
    return memFullErr;
  }
  return codecErr;
}

struct PrimaryImage {
  HeifContext context;
  std::unique_ptr<heif_image_handle, HeifRelease> handle;
  int width = 0;
  int height = 0;
  int bits = 8;
  bool hasAlpha = false;
};

OSErr OpenPrimary(ByteSpan file, PrimaryImage* primary) {
  if (LoadHeif() == nullptr) return noHandlerErr;
  primary->context.reset(Heif().context_alloc());
  if (!primary->context) return memFullErr;
  // libheif's own side limit (32768 by default) would refuse long but
  // modest images; the area is weighed against memory before decoding.
  Heif().context_set_maximum_image_size_limit(primary->context.get(), kMaxHeifDimension);
  if (OSErr err = FromHeifError(Heif().context_read_from_memory_without_copy(
          primary->context.get(), file.data(), file.size(), nullptr))) {
    return err;
  }
  heif_image_handle* handle = nullptr;
  if (OSErr err =
          FromHeifError(Heif().context_get_primary_image_handle(primary->context.get(), &handle))) {
    return err;
  }
  primary->handle.reset(handle);
  primary->width = Heif().image_handle_get_width(handle);
  primary->height = Heif().image_handle_get_height(handle);
  primary->bits = Heif().image_handle_get_luma_bits_per_pixel(handle);
  primary->hasAlpha = Heif().image_handle_has_alpha_channel(handle) != 0;
  if (primary->width < 1 || primary->height < 1) return codecErr;
  if (primary->width > kMaxHeifDimension || primary->height > kMaxHeifDimension) return memFullErr;
  return noErr;
}

OSErr ReadHeifHeader(ByteSpan file, ImageHeader* header) {
  PrimaryImage primary;
  if (OSErr err = OpenPrimary(file, &primary)) return err;
  header->width = primary.width;
  header->height = primary.height;
  header->preferredPixelFormat = 0;
  header->drawsRowsInOrder = true;
  header->drawnUpright = true;  // libheif applies the file's turns and mirrors
  header->hasAlpha = primary.hasAlpha;
  if (primary.bits > 8) {
    header->preferredPixelFormat = primary.hasAlpha ? k64ARGBPixelFormat : k48RGBCodecType;
  }
  return noErr;
}

heif_chroma ChromaFor(const PrimaryImage& primary) {
  constexpr bool kLittleEndian = std::endian::native == std::endian::little;
  if (primary.bits <= 8) {
    return primary.hasAlpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB;
  }
  if (primary.hasAlpha) {
    return kLittleEndian ? heif_chroma_interleaved_RRGGBBAA_LE
                         : heif_chroma_interleaved_RRGGBBAA_BE;
  }
  return kLittleEndian ? heif_chroma_interleaved_RRGGBB_LE : heif_chroma_interleaved_RRGGBB_BE;
}

// One decoded row to 16-bit R, G, B, A: 8-bit samples widened, deeper ones
// (held in native 16-bit words) scaled from their range to 16 bits.
void RowToRgba16(const uint8_t* in, int64_t width, int channels, int bits, uint16_t* out) {
  if (bits <= 8) {
    for (int64_t x = 0; x < width; ++x, in += channels, out += 4) {
      for (int c = 0; c < channels; ++c) out[c] = Widen8To16(in[c]);
      if (channels == 3) out[3] = 0xFFFF;
    }
    return;
  }
  const uint32_t max = (1u << bits) - 1;
  for (int64_t x = 0; x < width; ++x, in += 2 * channels, out += 4) {
    for (int c = 0; c < channels; ++c) {
      uint16_t v;
      std::memcpy(&v, in + 2 * c, 2);
      out[c] = uint16_t((std::min<uint32_t>(v, max) * 65535u + max / 2) / max);
    }
    if (channels == 3) out[3] = 0xFFFF;
  }
}

// An ICC profile (colr of type prof or rICC) before the coded description
// (nclx).
void ReadHeifColour(ByteSpan file, ColourSource* colour) {
  PrimaryImage primary;
  if (OpenPrimary(file, &primary) != noErr) return;
  colour->model = ColourModel::kRgb;
  const heif_image_handle* handle = primary.handle.get();
  const size_t size = Heif().image_handle_get_raw_color_profile_size(handle);
  if (size > 0) {
    std::vector<uint8_t> profile(size);
    if (Heif().image_handle_get_raw_color_profile(handle, profile.data()).code == heif_error_Ok) {
      colour->icc = std::move(profile);
      return;
    }
  }
  heif_color_profile_nclx* nclx = nullptr;
  const heif_error got = Heif().image_handle_get_nclx_color_profile(handle, &nclx);
  if (got.code != heif_error_Ok || nclx == nullptr) {
    // Reserved codes are refused after the profile was made: it is ours.
    if (nclx != nullptr) Heif().nclx_color_profile_free(nclx);
    return;
  }
  colour->hasNclx = true;
  colour->primaries = uint16_t(nclx->color_primaries);
  colour->transfer = uint16_t(nclx->transfer_characteristics);
  Heif().nclx_color_profile_free(nclx);
}

OSErr DrawHeif(ByteSpan file, const DrawRequest& request) {
  RowBand* dst = request.rows;
  if (dst == nullptr) return paramErr;
  if (!IsDrawableFormat(dst->PixelFormat())) return cDepthErr;
  PrimaryImage primary;
  if (OSErr err = OpenPrimary(file, &primary)) return err;
  if (primary.width != BufferWidth(*dst) || primary.height != BufferHeight(*dst)) return paramErr;

  // The decoder holds its planes and the converted interleaved image at once:
  // at most 8 bytes a pixel each.
  if (!WorkingBytesFit(uint64_t(primary.width) * uint64_t(primary.height), 2 * 8)) {
    return memFullErr;
  }
  // A grid declares its own canvas, which libheif allocates whatever the
  // image's stated size: a file of 500 bytes asked for 65535 x 65535. Only
  // sides up to the weighed size, plus one coding block of padding, decode.
  constexpr int32_t kCodingBlockSlack = 128;
  Heif().context_set_maximum_image_size_limit(
      primary.context.get(), std::max(primary.width, primary.height) + kCodingBlockSlack);
  std::unique_ptr<heif_decoding_options, HeifRelease> options(Heif().decoding_options_alloc());
  if (!options) return memFullErr;
  heif_image* decoded = nullptr;
  heif_error decodeError;
  {
    decodeError = Heif().decode_image(primary.handle.get(), &decoded, heif_colorspace_RGB,
                                      ChromaFor(primary), options.get());
  }
  if (OSErr err = FromHeifError(decodeError)) return err;
  std::unique_ptr<heif_image, HeifRelease> image(decoded);
  int stride = 0;
  const uint8_t* plane =
      Heif().image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
  if (plane == nullptr ||
      Heif().image_get_width(image.get(), heif_channel_interleaved) != primary.width ||
      Heif().image_get_height(image.get(), heif_channel_interleaved) != primary.height) {
    return codecErr;
  }
  const int bits = Heif().image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved);
  if (bits < 1 || bits > 16 || (primary.bits <= 8) != (bits <= 8)) return codecErr;
  const bool premultiplied = primary.hasAlpha && Heif().image_is_premultiplied_alpha(image.get());
  std::vector<uint16_t> rgba;
  try {
    rgba.resize(size_t(primary.width) * 4);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  const int channels = primary.hasAlpha ? 4 : 3;
  for (int64_t y = 0; y < primary.height; ++y) {
    RowToRgba16(plane + y * stride, primary.width, channels, bits, rgba.data());
    if (premultiplied) UnpremultiplyRgba16Row(rgba.data(), primary.width);
    StoreRgba16Row(rgba.data(), dst, y);
    if (!PublishDrawnRows(dst, y + 1)) return dst->StopError();
  }
  return noErr;
}

std::string LibheifVersion() {
  const HeifLibrary* heif = LoadHeif();
  return heif != nullptr ? heif->get_version() : "not loaded";
}

}  // namespace

std::string HeicCodecName() {
  return "HEIC (libheif " + LibheifVersion() + ")";
}
std::string AvifCodecName() {
  return "AVIF (libheif " + LibheifVersion() + ")";
}

const ImporterCodec kHeicImporter = {
    .format = &kHeicFormat,
    .name = HeicCodecName,
    .sniff = SniffHeic,
    .readHeader = ReadHeifHeader,
    .draw = DrawHeif,
    .readMetaData = ReadHeifMetaData,
    .readColour = ReadHeifColour,
    .available = HeifLoads,
};

const ImporterCodec kAvifImporter = {
    .format = &kAvifFormat,
    .name = AvifCodecName,
    .sniff = SniffAvif,
    .readHeader = ReadHeifHeader,
    .draw = DrawHeif,
    .readMetaData = ReadHeifMetaData,
    .readColour = ReadHeifColour,
    .available = HeifLoads,
};
