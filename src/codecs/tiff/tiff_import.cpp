// TIFF importer over libtiff. The common layouts (grey, palette, RGB and
// CMYK at 1 to 16 bits, with or without alpha, in strips or tiles,
// contiguous or planar, under any compression libtiff decodes) are read one
// strip or tile row at a time and converted here, so that unassociated
// alpha stays as stored. Other photometric interpretations (YCbCr without
// JPEG compression, CIE L*a*b*, LogLuv...) go through libtiff's RGBA reader.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "base/memory_limit.h"
#include "codecs/common/buffer_rows.h"
#include "codecs/common/import_rows.h"
#include "codecs/tiff/tiff_codec.h"
#include "platform/decode_warnings.h"

namespace {

// Wider rows than this cannot be held at 8 bytes a pixel within a buffer's
// 32-bit row stride.
constexpr uint32_t kMaxTiffDimension = 0x7FFFFFF0 / 8;

struct MemoryStream {
  const uint8_t* data = nullptr;
  uint64_t size = 0;
  uint64_t position = 0;
};

tmsize_t ReadMemory(thandle_t handle, void* out, tmsize_t count) {
  auto* stream = static_cast<MemoryStream*>(handle);
  if (count <= 0 || stream->position >= stream->size) return 0;
  const uint64_t n = std::min<uint64_t>(uint64_t(count), stream->size - stream->position);
  std::memcpy(out, stream->data + stream->position, n);
  stream->position += n;
  return tmsize_t(n);
}

tmsize_t WriteNothing(thandle_t, void*, tmsize_t) {
  return 0;
}

toff_t SeekMemory(thandle_t handle, toff_t offset, int whence) {
  auto* stream = static_cast<MemoryStream*>(handle);
  const uint64_t base = whence == SEEK_CUR   ? stream->position
                        : whence == SEEK_END ? stream->size
                                             : 0;
  stream->position = base + offset;  // unsigned arithmetic: a negative offset wraps back
  return stream->position;
}

int CloseMemory(thandle_t) {
  return 0;
}
toff_t SizeOfMemory(thandle_t handle) {
  return static_cast<MemoryStream*>(handle)->size;
}
int MapNothing(thandle_t, void**, toff_t*) {
  return 0;
}
void UnmapNothing(thandle_t, void*, toff_t) {}

bool SniffTiff(ByteSpan file) {
  if (file.size() < 4) return false;
  const bool little = file[0] == 'I' && file[1] == 'I' && file[2] == 42 && file[3] == 0;
  const bool big = file[0] == 'M' && file[1] == 'M' && file[2] == 0 && file[3] == 42;
  const bool bigLittle = file[0] == 'I' && file[1] == 'I' && file[2] == 43 && file[3] == 0;
  const bool bigBig = file[0] == 'M' && file[1] == 'M' && file[2] == 0 && file[3] == 43;
  return little || big || bigLittle || bigBig;
}

// Whether libtiff's warnings about a file are noted: only once its
// directory has been read, so that the drawing keeps what its strips and
// tiles said (a JPEG strip's "Corrupt JPEG data"), not unknown tags.
struct TiffNoting {
  bool decoding = false;
};

int NoteTiffWarning(TIFF*, void* user, const char* module, const char* format, va_list args) {
  if (!static_cast<const TiffNoting*>(user)->decoding) return 1;
  char text[512] = {};
  std::vsnprintf(text, sizeof text, format, args);
  NoteDecodeWarning(module != nullptr && *module != 0 ? std::string(module) + ": " + text : text);
  return 1;
}

// Opened without memory mapping: libtiff then never points into the caller's
// bytes, which are const. With noting, its warnings are noted as it says.
// Only a drawing lets libtiff cut a single uncompressed strip into many: a
// header claiming a vast image would otherwise cost its strip table before
// anything could refuse it.
enum class TiffUse { kHeader, kDrawing };
TiffHandle OpenTiff(MemoryStream* stream, TiffUse use, TiffNoting* noting) {
  TiffOptions options = SilentTiffOptions();
  if (!options) return nullptr;
  if (noting != nullptr) {
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), NoteTiffWarning, noting);
  }
  const char* mode = use == TiffUse::kDrawing ? "rm" : "rmc";
  return TiffHandle(TIFFClientOpenExt("memory", mode, stream, ReadMemory, WriteNothing, SeekMemory,
                                      CloseMemory, SizeOfMemory, MapNothing, UnmapNothing,
                                      options.get()));
}

enum class TiffKind { kGrey, kPalette, kRgb, kCmyk, kOther };

struct TiffLayout {
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t bits = 0;
  uint16_t samples = 0;
  bool planar = false;  // one plane per sample
  TiffKind kind = TiffKind::kOther;
  bool minIsWhite = false;
  bool hasAlpha = false;
  bool associatedAlpha = false;
  bool tiled = false;
  uint32_t tileWidth = 0;
  uint32_t tileLength = 0;
  uint32_t rowsPerStrip = 0;
  uint16_t compression = COMPRESSION_NONE;
};

// The colour channels a photometric interpretation has, or kOther.
TiffKind KindOf(TIFF* tif, uint16_t photometric, uint16_t compression, int* colourSamples) {
  switch (photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
      *colourSamples = 1;
      return TiffKind::kGrey;
    case PHOTOMETRIC_PALETTE:
      *colourSamples = 1;
      return TiffKind::kPalette;
    case PHOTOMETRIC_RGB:
      *colourSamples = 3;
      return TiffKind::kRgb;
    case PHOTOMETRIC_YCBCR:
      // libjpeg converts to RGB itself; other YCbCr goes the RGBA way.
      if (compression != COMPRESSION_JPEG) return TiffKind::kOther;
      if (!TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB)) return TiffKind::kOther;
      *colourSamples = 3;
      return TiffKind::kRgb;
    case PHOTOMETRIC_SEPARATED: {
      uint16_t inkSet = INKSET_CMYK;
      TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inkSet);
      if (inkSet != INKSET_CMYK) return TiffKind::kOther;
      *colourSamples = 4;
      return TiffKind::kCmyk;
    }
    default:
      return TiffKind::kOther;
  }
}

// Whether the first extra sample is alpha, and whether it is premultiplied.
// An unspecified extra sample after the colour ones is taken for alpha, as
// most readers do.
void ReadAlpha(TIFF* tif, int extraSamples, TiffLayout* layout) {
  if (extraSamples < 1) return;
  uint16_t count = 0;
  uint16_t* types = nullptr;
  layout->hasAlpha = true;
  if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &types) && count > 0 && types != nullptr) {
    layout->associatedAlpha = types[0] == EXTRASAMPLE_ASSOCALPHA;
  }
}

bool SupportedDepth(const TiffLayout& layout, uint16_t sampleFormat) {
  if (sampleFormat != SAMPLEFORMAT_UINT && sampleFormat != SAMPLEFORMAT_VOID) return false;
  if (layout.bits == 8 || layout.bits == 16) return true;
  const bool singleSample =
      layout.samples == 1 && (layout.kind == TiffKind::kGrey || layout.kind == TiffKind::kPalette);
  if (!singleSample || (layout.bits != 1 && layout.bits != 2 && layout.bits != 4)) return false;
  // Packed tiles must start on whole bytes.
  return !layout.tiled || uint64_t(layout.tileWidth) * layout.bits % 8 == 0;
}

OSErr ReadLayout(TIFF* tif, TiffLayout* layout) {
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &layout->width) ||
      !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &layout->height) || layout->width < 1 ||
      layout->height < 1) {
    return codecErr;
  }
  if (layout->width > kMaxTiffDimension || layout->height > kMaxTiffDimension) return memFullErr;
  uint16_t planar = PLANARCONFIG_CONTIG, sampleFormat = SAMPLEFORMAT_UINT, photometric = 0xFFFF;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &layout->bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &layout->samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &layout->compression);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  layout->planar = planar == PLANARCONFIG_SEPARATE && layout->samples > 1;
  layout->tiled = TIFFIsTiled(tif) != 0;
  if (layout->tiled) {
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &layout->tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &layout->tileLength);
    if (layout->tileWidth < 1 || layout->tileLength < 1) return codecErr;
  } else {
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &layout->rowsPerStrip);
    layout->rowsPerStrip = std::clamp<uint32_t>(layout->rowsPerStrip, 1, layout->height);
  }
  int colourSamples = 0;
  layout->kind = KindOf(tif, photometric, layout->compression, &colourSamples);
  if (layout->kind == TiffKind::kOther || layout->samples < colourSamples) {
    layout->kind = TiffKind::kOther;
    return noErr;
  }
  layout->minIsWhite = photometric == PHOTOMETRIC_MINISWHITE;
  ReadAlpha(tif, layout->samples - colourSamples, layout);
  if (!SupportedDepth(*layout, sampleFormat)) layout->kind = TiffKind::kOther;
  return noErr;
}

// 16-bit colour or grey keeps its samples in "b48r" or "b64a"; palette
// entries and everything read through libtiff's RGBA reader are 8-bit.
OSType PreferredFormat(const TiffLayout& layout) {
  if (layout.bits != 16 || layout.kind == TiffKind::kOther || layout.kind == TiffKind::kPalette) {
    return 0;
  }
  const bool grey = layout.kind == TiffKind::kGrey;
  if (layout.hasAlpha) return grey ? k32AlphaGrayCodecType : k64ARGBPixelFormat;
  return grey ? k16GrayCodecType : k48RGBCodecType;
}

OSErr ReadTiffHeader(ByteSpan file, ImageHeader* header) {
  MemoryStream stream{file.data(), file.size(), 0};
  TiffHandle tif = OpenTiff(&stream, TiffUse::kHeader, nullptr);
  if (!tif) return codecErr;
  TiffLayout layout;
  if (OSErr err = ReadLayout(tif.get(), &layout)) return err;
  header->width = int32_t(layout.width);
  header->height = int32_t(layout.height);
  header->preferredPixelFormat = PreferredFormat(layout);
  header->drawsRowsInOrder = true;
  header->hasAlpha = layout.hasAlpha;
  return noErr;
}

// ---- Reading the stored samples, a band of rows at a time.

// One band: the rows of a strip, or of a row of tiles; a buffer per plane.
struct Band {
  int64_t rowBytes = 0;  // per plane
  int64_t rows = 0;      // rows a full band holds
  std::vector<std::vector<uint8_t>> planes;
  std::vector<uint8_t> tile;  // one decoded tile
  int64_t tileRowBytes = 0;
};

OSErr PrepareBand(TIFF* tif, const TiffLayout& layout, Band* band) {
  const int64_t planeSamples = layout.planar ? 1 : layout.samples;
  band->rowBytes = (int64_t(layout.width) * planeSamples * layout.bits + 7) / 8;
  band->rows = layout.tiled ? layout.tileLength : layout.rowsPerStrip;
  const uint64_t planes = layout.planar ? layout.samples : 1;
  const uint64_t tileBytes = layout.tiled ? TIFFTileSize64(tif) : 0;
  // A strip or tile may claim far more than the image holds; what it costs is
  // weighed before any of it is allocated. Planes times a plane's row bytes
  // stays below 2^46 (planar rows hold one sample).
  uint64_t bandBytes = 0, workingBytes = 0;
  if (__builtin_mul_overflow(planes * uint64_t(band->rowBytes), uint64_t(band->rows), &bandBytes) ||
      __builtin_add_overflow(bandBytes, tileBytes, &workingBytes) ||
      !WorkingBytesFit(workingBytes)) {
    return memFullErr;
  }
  try {
    band->planes.resize(layout.planar ? layout.samples : 1);
    for (auto& plane : band->planes) plane.resize(size_t(band->rowBytes * band->rows));
    if (layout.tiled) {
      band->tileRowBytes = (int64_t(layout.tileWidth) * planeSamples * layout.bits + 7) / 8;
      const int64_t tileSize = int64_t(TIFFTileSize64(tif));
      if (tileSize < band->tileRowBytes * layout.tileLength) return codecErr;
      band->tile.resize(size_t(tileSize));
    } else if (!layout.planar && int64_t(TIFFScanlineSize64(tif)) != band->rowBytes) {
      return codecErr;
    }
  } catch (const std::bad_alloc&) {
    return memFullErr;
  } catch (const std::length_error&) {
    return memFullErr;
  }
  return noErr;
}

OSErr ReadStripBand(TIFF* tif, uint32_t y0, int64_t rows, uint16_t plane, Band* band) {
  const int64_t expected = rows * band->rowBytes;
  const tmsize_t got = TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, y0, plane),
                                            band->planes[plane].data(), tmsize_t(expected));
  return got == expected ? noErr : codecErr;
}

OSErr ReadTileBand(TIFF* tif, const TiffLayout& layout, uint32_t y0, int64_t rows, uint16_t plane,
                   Band* band) {
  const int64_t planeSamples = layout.planar ? 1 : layout.samples;
  for (uint32_t x0 = 0; x0 < layout.width; x0 += layout.tileWidth) {
    const tmsize_t got = TIFFReadEncodedTile(tif, TIFFComputeTile(tif, x0, y0, 0, plane),
                                             band->tile.data(), tmsize_t(band->tile.size()));
    if (got < 0) return codecErr;
    const int64_t columns = std::min<int64_t>(layout.tileWidth, layout.width - x0);
    const int64_t offset = int64_t(x0) * planeSamples * layout.bits / 8;
    const int64_t bytes = (columns * planeSamples * layout.bits + 7) / 8;
    for (int64_t r = 0; r < rows; ++r) {
      std::memcpy(band->planes[plane].data() + r * band->rowBytes + offset,
                  band->tile.data() + r * band->tileRowBytes, size_t(bytes));
    }
    if (x0 > UINT32_MAX - layout.tileWidth) break;
  }
  return noErr;
}

// ---- Converting one row of samples to 16-bit RGBA.

// Row r of the band as native 16-bit samples, interleaved, values as stored
// (not yet scaled to 16 bits).
void GatherSamples(const TiffLayout& layout, const Band& band, int64_t r, uint16_t* out) {
  const int64_t width = layout.width;
  const int64_t samples = layout.samples;
  const int64_t planes = int64_t(band.planes.size());
  const int64_t perPlane = planes > 1 ? 1 : samples;
  for (int64_t p = 0; p < planes; ++p) {
    const uint8_t* in = band.planes[size_t(p)].data() + r * band.rowBytes;
    uint16_t* to = out + p;
    const int64_t count = width * perPlane;
    if (layout.bits == 16) {
      for (int64_t i = 0; i < count; ++i) std::memcpy(&to[i * planes], in + 2 * i, 2);
    } else if (layout.bits == 8) {
      for (int64_t i = 0; i < count; ++i) to[i * planes] = in[i];
    } else {  // 1, 2 or 4 bits, one sample a pixel, most significant bits first
      const int bits = layout.bits;
      const uint32_t mask = (1u << bits) - 1;
      for (int64_t i = 0; i < count; ++i) {
        const int64_t bit = i * bits;
        to[i] = uint16_t((in[bit / 8] >> (8 - bits - bit % 8)) & mask);
      }
    }
  }
}

struct Palette {
  std::vector<uint16_t> r, g, b;
};

// Scale factor from stored values to 16 bits: 65535 / (2^bits - 1), an
// integer for 1, 2, 4, 8 and 16 bits.
uint32_t ScaleOf(const TiffLayout& layout) {
  return 65535u / ((1u << layout.bits) - 1);
}

void GreyToRgba(const TiffLayout& layout, const Palette&, const uint16_t* in, uint16_t* out) {
  const uint32_t scale = ScaleOf(layout);
  const uint16_t invert = layout.minIsWhite ? 0xFFFF : 0;
  for (uint32_t x = 0; x < layout.width; ++x, in += layout.samples, out += 4) {
    const uint16_t v = uint16_t(in[0] * scale) ^ invert;
    out[0] = out[1] = out[2] = v;
    out[3] = layout.hasAlpha ? uint16_t(in[1] * scale) : 0xFFFF;
  }
}

void PaletteToRgba(const TiffLayout& layout, const Palette& palette, const uint16_t* in,
                   uint16_t* out) {
  const uint32_t scale = ScaleOf(layout);
  for (uint32_t x = 0; x < layout.width; ++x, in += layout.samples, out += 4) {
    const size_t i = in[0];
    const bool known = i < palette.r.size();
    out[0] = known ? palette.r[i] : 0;
    out[1] = known ? palette.g[i] : 0;
    out[2] = known ? palette.b[i] : 0;
    out[3] = layout.hasAlpha ? uint16_t(in[1] * scale) : 0xFFFF;
  }
}

void RgbToRgba(const TiffLayout& layout, const Palette&, const uint16_t* in, uint16_t* out) {
  const uint32_t scale = ScaleOf(layout);
  for (uint32_t x = 0; x < layout.width; ++x, in += layout.samples, out += 4) {
    out[0] = uint16_t(in[0] * scale);
    out[1] = uint16_t(in[1] * scale);
    out[2] = uint16_t(in[2] * scale);
    out[3] = layout.hasAlpha ? uint16_t(in[3] * scale) : 0xFFFF;
  }
}

// Ink amounts to light: R = (1 - C)(1 - K), rounded.
void CmykToRgba(const TiffLayout& layout, const Palette&, const uint16_t* in, uint16_t* out) {
  const uint32_t scale = ScaleOf(layout);
  for (uint32_t x = 0; x < layout.width; ++x, in += layout.samples, out += 4) {
    const uint32_t k = 65535 - in[3] * scale;
    for (int c = 0; c < 3; ++c) out[c] = uint16_t(((65535 - in[c] * scale) * k + 32767) / 65535);
    out[3] = layout.hasAlpha ? uint16_t(in[4] * scale) : 0xFFFF;
  }
}

using RowConverter = void (*)(const TiffLayout&, const Palette&, const uint16_t*, uint16_t*);

RowConverter ConverterFor(TiffKind kind) {
  switch (kind) {
    case TiffKind::kGrey:
      return GreyToRgba;
    case TiffKind::kPalette:
      return PaletteToRgba;
    case TiffKind::kCmyk:
      return CmykToRgba;
    default:
      return RgbToRgba;
  }
}

// Colour maps are 16-bit, but some writers store 8-bit values in them; like
// libtiff's own reader, a map with no entry above 255 is taken as 8-bit.
OSErr ReadPalette(TIFF* tif, const TiffLayout& layout, Palette* palette) {
  uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
  if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) || !r || !g || !b) return codecErr;
  const size_t entries = size_t(1) << layout.bits;
  try {
    palette->r.assign(r, r + entries);
    palette->g.assign(g, g + entries);
    palette->b.assign(b, b + entries);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  const auto wide = [](uint16_t v) { return v > 255; };
  if (std::any_of(r, r + entries, wide) || std::any_of(g, g + entries, wide) ||
      std::any_of(b, b + entries, wide)) {
    return noErr;
  }
  for (auto* channel : {&palette->r, &palette->g, &palette->b}) {
    for (uint16_t& v : *channel) v = Widen8To16(v);
  }
  return noErr;
}

// CMYK samples (scaled to 16 bits, as CmykToRgba takes them) through the
// file's profile; cmyk and rgb are rows of 4 and 3 samples.
void MatchCmykToRgba(const ColourMatch& match, const TiffLayout& layout, const uint16_t* in,
                     uint16_t* cmyk, uint16_t* rgb, uint16_t* out) {
  const uint32_t scale = ScaleOf(layout);
  for (uint32_t x = 0; x < layout.width; ++x) {
    for (int c = 0; c < 4; ++c) cmyk[4 * x + c] = uint16_t(in[x * layout.samples + c] * scale);
  }
  match.MatchCmyk(cmyk, rgb, layout.width);
  for (uint32_t x = 0; x < layout.width; ++x, out += 4) {
    for (int c = 0; c < 3; ++c) out[c] = rgb[3 * x + c];
    out[3] = layout.hasAlpha ? uint16_t(in[x * layout.samples + 4] * scale) : 0xFFFF;
  }
}

OSErr DrawSamples(TIFF* tif, const TiffLayout& layout, const ColourMatch* cmykMatch, RowBand* dst) {
  if (layout.kind != TiffKind::kCmyk) cmykMatch = nullptr;
  Palette palette;
  if (layout.kind == TiffKind::kPalette) {
    if (OSErr err = ReadPalette(tif, layout, &palette)) return err;
  }
  Band band;
  if (OSErr err = PrepareBand(tif, layout, &band)) return err;
  std::vector<uint16_t> samples, rgba, cmyk, rgb;
  try {
    samples.resize(size_t(layout.width) * layout.samples);
    rgba.resize(size_t(layout.width) * 4);
    if (cmykMatch != nullptr) {
      cmyk.resize(size_t(layout.width) * 4);
      rgb.resize(size_t(layout.width) * 3);
    }
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  const RowConverter convert = ConverterFor(layout.kind);
  for (uint32_t y0 = 0; y0 < layout.height; y0 += uint32_t(band.rows)) {
    const int64_t rows = std::min<int64_t>(band.rows, layout.height - y0);
    for (uint16_t plane = 0; plane < band.planes.size(); ++plane) {
      OSErr err = layout.tiled ? ReadTileBand(tif, layout, y0, rows, plane, &band)
                               : ReadStripBand(tif, y0, rows, plane, &band);
      if (err != noErr) return err;
    }
    for (int64_t r = 0; r < rows; ++r) {
      GatherSamples(layout, band, r, samples.data());
      if (cmykMatch != nullptr) {
        MatchCmykToRgba(*cmykMatch, layout, samples.data(), cmyk.data(), rgb.data(), rgba.data());
      } else {
        convert(layout, palette, samples.data(), rgba.data());
      }
      if (layout.associatedAlpha) UnpremultiplyRgba16Row(rgba.data(), layout.width);
      StoreRgba16Row(rgba.data(), dst, y0 + r);
      if (!PublishDrawnRows(dst, y0 + r + 1)) return dst->StopError();
    }
    if (rows < band.rows) break;
  }
  return noErr;
}

// libtiff's RGBA reader, for what the reading above does not know. It hands
// back premultiplied colour whenever there is alpha; straightened here.
OSErr DrawThroughRgba(TIFF* tif, const TiffLayout& layout, RowBand* dst) {
  std::vector<uint32_t> raster;
  std::vector<uint16_t> rgba;
  if (!WorkingBytesFit(uint64_t(layout.width) * layout.height, sizeof(uint32_t))) {
    return memFullErr;
  }
  try {
    raster.resize(size_t(layout.width) * layout.height);
    rgba.resize(size_t(layout.width) * 4);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  } catch (const std::length_error&) {
    return memFullErr;
  }
  if (!TIFFReadRGBAImageOriented(tif, layout.width, layout.height, raster.data(),
                                 ORIENTATION_TOPLEFT, 1)) {
    return codecErr;
  }
  for (uint32_t y = 0; y < layout.height; ++y) {
    const uint32_t* in = raster.data() + size_t(y) * layout.width;
    for (uint32_t x = 0; x < layout.width; ++x) {
      rgba[4 * x] = Widen8To16(TIFFGetR(in[x]));
      rgba[4 * x + 1] = Widen8To16(TIFFGetG(in[x]));
      rgba[4 * x + 2] = Widen8To16(TIFFGetB(in[x]));
      rgba[4 * x + 3] = Widen8To16(TIFFGetA(in[x]));
    }
    if (layout.hasAlpha) UnpremultiplyRgba16Row(rgba.data(), layout.width);
    StoreRgba16Row(rgba.data(), dst, y);
    if (!PublishDrawnRows(dst, y + 1)) return dst->StopError();
  }
  return noErr;
}

// The bytes uncompressed strip or tile i holds; perPlane strips make a plane.
uint64_t UncompressedBytes(TIFF* tif, const TiffLayout& layout, uint32_t i, uint32_t perPlane) {
  if (layout.tiled) return TIFFTileSize64(tif);
  const uint64_t y0 =
      std::min<uint64_t>(uint64_t(i % perPlane) * layout.rowsPerStrip, layout.height);
  return TIFFVStripSize64(tif,
                          uint32_t(std::min<uint64_t>(layout.rowsPerStrip, layout.height - y0)));
}

// Whether every strip or tile is recorded and lies within the file, and the
// file holds all the bytes the uncompressed ones need. libtiff gives a list
// shorter than the image needs empty entries at offset 0, and reads
// uncompressed data by the size its rows need, not the size recorded: it
// would decode the file's header, or the same bytes over and over, as
// millions of rows.
bool StripsLieInFile(TIFF* tif, const TiffLayout& layout, uint64_t fileSize) {
  // Old-style JPEG may find its data through tags of its own.
  if (layout.compression == COMPRESSION_OJPEG) return true;
  const uint32_t count = layout.tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  const uint32_t perPlane = layout.planar ? std::max<uint32_t>(count / layout.samples, 1) : count;
  uint64_t uncompressed = 0;  // up to fileSize, then one more strip at most
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t offset = TIFFGetStrileOffset(tif, i);
    const uint64_t bytes = TIFFGetStrileByteCount(tif, i);
    if (bytes == 0 || offset > fileSize || bytes > fileSize - offset) return false;
    if (layout.compression != COMPRESSION_NONE) continue;
    uncompressed += UncompressedBytes(tif, layout, i, perPlane);
    if (uncompressed > fileSize) return false;
  }
  return true;
}

// Grey that stores white as zero is left alone: its profile's sense is
// unclear. A palette is RGB.
void ReadTiffColour(ByteSpan file, ColourSource* colour) {
  MemoryStream stream{file.data(), file.size(), 0};
  TiffHandle tif = OpenTiff(&stream, TiffUse::kHeader, nullptr);
  TiffLayout layout;
  if (!tif || ReadLayout(tif.get(), &layout) != noErr) return;
  switch (layout.kind) {
    case TiffKind::kGrey:
      if (!layout.minIsWhite) colour->model = ColourModel::kGrey;
      break;
    case TiffKind::kPalette:
    case TiffKind::kRgb:
      colour->model = ColourModel::kRgb;
      break;
    case TiffKind::kCmyk:
      colour->model = ColourModel::kCmyk;
      break;
    default:
      return;
  }
  uint32_t size = 0;
  const uint8_t* profile = nullptr;
  if (TIFFGetField(tif.get(), TIFFTAG_ICCPROFILE, &size, &profile) && profile != nullptr) {
    colour->icc.assign(profile, profile + size);
  }
}

OSErr DrawTiff(ByteSpan file, const DrawRequest& request) {
  RowBand* dst = request.rows;
  const ColourMatch* cmykMatch = request.cmyk;
  if (dst == nullptr) return paramErr;
  if (!IsDrawableFormat(dst->PixelFormat())) return cDepthErr;
  MemoryStream stream{file.data(), file.size(), 0};
  TiffNoting noting;
  TiffHandle tif = OpenTiff(&stream, TiffUse::kDrawing, &noting);
  if (!tif) return codecErr;
  TiffLayout layout;
  if (OSErr err = ReadLayout(tif.get(), &layout)) return err;
  if (layout.width != BufferWidth(*dst) || layout.height != BufferHeight(*dst)) return paramErr;
  if (!StripsLieInFile(tif.get(), layout, file.size())) return codecErr;
  noting.decoding = true;
  if (layout.kind == TiffKind::kOther) return DrawThroughRgba(tif.get(), layout, dst);
  return DrawSamples(tif.get(), layout, cmykMatch, dst);
}

int SwallowMessage(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

}  // namespace

std::string TiffCodecName() {
  // "LIBTIFF, Version 4.5.0\nCopyright ..."
  const std::string text = TIFFGetVersion();
  const std::string marker = "Version ";
  const size_t start = text.find(marker);
  if (start == std::string::npos) return "TIFF (libtiff)";
  const size_t from = start + marker.size();
  const size_t end = text.find_first_of("\n ", from);
  return "TIFF (libtiff " + text.substr(from, end == std::string::npos ? end : end - from) + ")";
}

TiffOptions SilentTiffOptions() {
  static std::once_flag once;
  std::call_once(once, [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
  });
  TiffOptions options(TIFFOpenOptionsAlloc());
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), SwallowMessage, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), SwallowMessage, nullptr);
  return options;
}

const ImporterCodec kTiffImporter = {
    .format = &kTiffFormat,
    .name = TiffCodecName,
    .sniff = SniffTiff,
    .readHeader = ReadTiffHeader,
    .draw = DrawTiff,
    .readColour = ReadTiffColour,
};
