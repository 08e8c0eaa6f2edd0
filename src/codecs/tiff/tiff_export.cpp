// TIFF exporter over libtiff: Deflate with horizontal differencing; 8-bit
// grey, RGB or RGBA (unassociated alpha) from 8-bit buffers, 16-bit RGB or
// RGBA from "b48r" and "b64a" buffers. Lossless, so the quality is unused.
#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "base/big_endian.h"
#include "base/item_types.h"
#include "codecs/common/begin_export.h"
#include "codecs/common/buffer_rows.h"
#include "codecs/common/row_packer.h"
#include "codecs/tiff/tiff_codec.h"
#include "metadata_blocks/density_items.h"
#include "metadata_blocks/item_access.h"

namespace {

// Past this many bytes of pixels the file may not fit classic TIFF's 32-bit
// offsets even after compression, so BigTIFF is written.
constexpr int64_t kBigTiffThreshold = int64_t(3) << 30;

// The file being written, where libtiff writes and seeks: it appends the
// strips and goes back to fill in the header's offset.
struct SinkStream {
  ByteSink* out = nullptr;
  uint64_t position = 0;
  OSErr error = noErr;
};

tmsize_t WriteSink(thandle_t handle, void* data, tmsize_t count) {
  auto* stream = static_cast<SinkStream*>(handle);
  if (count <= 0) return 0;
  const OSErr err = stream->out->WriteAt(stream->position, data, size_t(count));
  if (err != noErr) {
    if (stream->error == noErr) stream->error = err;
    return -1;
  }
  stream->position += uint64_t(count);
  return count;
}

tmsize_t ReadSink(thandle_t handle, void* data, tmsize_t count) {
  auto* stream = static_cast<SinkStream*>(handle);
  if (count <= 0) return 0;
  size_t got = 0;
  const OSErr err = stream->out->ReadAt(stream->position, data, size_t(count), &got);
  if (err != noErr) {
    if (stream->error == noErr) stream->error = err;
    return -1;
  }
  stream->position += got;
  return tmsize_t(got);
}

toff_t SeekSink(thandle_t handle, toff_t offset, int whence) {
  auto* stream = static_cast<SinkStream*>(handle);
  const uint64_t base = whence == SEEK_CUR   ? stream->position
                        : whence == SEEK_END ? stream->out->Size()
                                             : 0;
  stream->position = base + offset;
  return stream->position;
}

int CloseSink(thandle_t) {
  return 0;
}
toff_t SizeOfSink(thandle_t handle) {
  return static_cast<SinkStream*>(handle)->out->Size();
}
int MapNothing(thandle_t, void**, toff_t*) {
  return 0;
}
void UnmapNothing(thandle_t, void*, toff_t) {}

struct TiffTarget {
  RowLayout layout = RowLayout::kRGB8;
  uint16_t bits = 8;
  uint16_t samples = 3;
  uint16_t photometric = PHOTOMETRIC_RGB;
};

TiffTarget ChooseTarget(RowBand& image, int32_t depth) {
  const bool sixteen = IsSixteenBitFormat(image.PixelFormat());
  switch (ChannelsForDepth(depth)) {
    case ExportChannels::kGrey:
      return {RowLayout::kGrey8, 8, 1, PHOTOMETRIC_MINISBLACK};
    case ExportChannels::kColourAlpha:
      if (sixteen) return {RowLayout::kRGBA16, 16, 4, PHOTOMETRIC_RGB};
      return {RowLayout::kRGBA8, 8, 4, PHOTOMETRIC_RGB};
    case ExportChannels::kColour:
      break;
  }
  if (sixteen) return {RowLayout::kRGB16, 16, 3, PHOTOMETRIC_RGB};
  return {RowLayout::kRGB8, 8, 3, PHOTOMETRIC_RGB};
}

bool SetFields(TIFF* tif, const TiffTarget& target, uint32_t width, uint32_t height) {
  bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width) &&
            TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height) &&
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, target.bits) &&
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, target.samples) &&
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, target.photometric) &&
            TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
            TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
            TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) &&
            TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  if (ok && target.samples == 4) {
    const uint16_t alpha[] = {EXTRASAMPLE_UNASSALPHA};
    ok = TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, alpha);
  }
  return ok && TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
}

// A RATIONAL item (two big-endian 32-bit terms) as a number, or nothing.
std::optional<double> RationalItem(UserData ud, uint16_t tag) {
  std::optional<ItemBytes> bytes = ReadItem(ud, kTiffItemBase + tag, 1);
  if (!bytes || bytes->size() != 8) return std::nullopt;
  const uint32_t denominator = ReadBigEndian32(bytes->data() + 4);
  if (denominator == 0) return std::nullopt;
  return double(ReadBigEndian32(bytes->data())) / denominator;
}

// A SHORT item (2 bytes, big-endian), or nothing.
std::optional<uint16_t> ShortItem(UserData ud, uint16_t tag) {
  std::optional<ItemBytes> bytes = ReadItem(ud, kTiffItemBase + tag, 1);
  if (!bytes || bytes->size() != 2) return std::nullopt;
  return ReadBigEndian16(bytes->data());
}

// exiv2 keeps a TIFF file's resolution and YCbCr positioning fields as the
// encoder wrote them, so the items' values go in here. libtiff holds the
// resolutions as floats: whole numbers such as 72/1 or 300/1 come back
// exact, other fractions as libtiff's nearest rational. A value libtiff
// refuses (a unit or positioning out of range) is left out.
void SetItemFields(TIFF* tif, UserData ud) {
  if (std::optional<double> x = RationalItem(ud, TIFFTAG_XRESOLUTION)) {
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, *x);
  }
  if (std::optional<double> y = RationalItem(ud, TIFFTAG_YRESOLUTION)) {
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, *y);
  }
  if (std::optional<uint16_t> unit = ShortItem(ud, TIFFTAG_RESOLUTIONUNIT)) {
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, *unit);
  }
  Ifd0Density density;
  if (Ifd0DensityFromOthers(ud, &density)) {  // a JPEG's or PNG's density
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, double(density.x[0]) / density.x[1]);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, double(density.y[0]) / density.y[1]);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, density.unit);
  }
  if (std::optional<uint16_t> positioning = ShortItem(ud, TIFFTAG_YCBCRPOSITIONING)) {
    TIFFSetField(tif, TIFFTAG_YCBCRPOSITIONING, *positioning);
  }
}

// libtiff takes samples in the machine's order; the packed rows hold them
// most significant byte first.
void ToNativeOrder(const TiffTarget& target, int64_t width, uint8_t* row) {
  if (target.bits != 16 || std::endian::native == std::endian::big) return;
  TIFFSwabArrayOfShort(reinterpret_cast<uint16_t*>(row), tmsize_t(width * target.samples));
}

OSErr EncodeTiff(const ExportRequest& request, ByteSink* out) {
  ExportImage begun;
  if (OSErr err = BeginExport(request, out, INT64_MAX, &begun)) return err;
  RowBand& image = *begun.rows;
  const int64_t width = begun.width;
  const int64_t height = begun.height;
  const TiffTarget target = ChooseTarget(image, request.depth);
  RowPacker packer;
  if (OSErr err = packer.Prepare(image, target.layout)) return err;
  const int64_t rowBytes = width * BytesPerPixel(target.layout);
  std::vector<uint8_t> row;
  try {
    row.resize(size_t(rowBytes));
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }

  if (std::vector<uint8_t>* memory = out->Memory()) memory->clear();
  SinkStream stream{out, 0, noErr};
  TiffOptions options = SilentTiffOptions();
  if (!options) return memFullErr;
  const char* mode = rowBytes * height > kBigTiffThreshold ? "w8m" : "wm";
  TiffHandle tif(TIFFClientOpenExt("output", mode, &stream, ReadSink, WriteSink, SeekSink,
                                   CloseSink, SizeOfSink, MapNothing, UnmapNothing, options.get()));
  bool ok = tif && SetFields(tif.get(), target, uint32_t(width), uint32_t(height));
  // IFD0 items travel only with the EXIF ones, as in the other formats.
  if (ok && request.metaData != nullptr && request.exifEnabled) {
    SetItemFields(tif.get(), request.metaData);
  }
  OSErr stopped = noErr;
  for (int64_t y = 0; ok && y < height; ++y) {
    stopped = packer.Pack(y, row.data());
    if (stopped != noErr) break;
    ToNativeOrder(target, width, row.data());
    ok = TIFFWriteScanline(tif.get(), row.data(), uint32_t(y), 0) == 1;
  }
  ok = ok && stopped == noErr && TIFFFlush(tif.get()) == 1;
  tif.reset();  // closes; nothing is left to write
  if (stopped != noErr) return stopped;
  if (stream.error != noErr) return stream.error;
  return ok ? noErr : codecErr;
}

}  // namespace

const ExporterCodec kTiffExporter = {
    .format = &kTiffFormat,
    .name = TiffCodecName,
    .encode = EncodeTiff,
};
