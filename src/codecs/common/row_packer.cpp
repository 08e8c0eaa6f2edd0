#include "codecs/common/row_packer.h"

#include <cstring>
#include <new>

#include "base/big_endian.h"

ExportChannels ChannelsForDepth(int32_t depth) {
  switch (depth) {
    case 1:
    case 2:
    case 4:
    case 8:
    case 33:
    case 34:
    case 36:
    case 40:
      return ExportChannels::kGrey;
    case 32:
    case 64:
      return ExportChannels::kColourAlpha;
    default:
      return ExportChannels::kColour;
  }
}

int64_t BytesPerPixel(RowLayout layout) {
  switch (layout) {
    case RowLayout::kGrey8:
      return 1;
    case RowLayout::kRGB8:
      return 3;
    case RowLayout::kRGBA8:
      return 4;
    case RowLayout::kRGB16:
      return 6;
    case RowLayout::kRGBA16:
      return 8;
  }
  return 0;
}

bool IsSixteenBitFormat(OSType pixelFormat) {
  return pixelFormat == k48RGBCodecType || pixelFormat == k64ARGBPixelFormat;
}

OSErr RowPacker::Prepare(RowBand& src, RowLayout layout) {
  switch (src.PixelFormat()) {
    case k32ARGBPixelFormat:
    case k48RGBCodecType:
    case k64ARGBPixelFormat:
    case k8IndexedPixelFormat:
    case k8IndexedGrayPixelFormat:
      break;
    default:
      return cDepthErr;
  }
  src_ = &src;
  layout_ = layout;
  try {
    row_.resize(size_t(src.Width()));
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  return noErr;
}

// Brings one source row to 16-bit RGBA in native order; one loop per format.
void RowPacker::Fetch(int64_t y) {
  const uint8_t* in = src_->RowToRead(y);
  const size_t width = row_.size();
  switch (src_->PixelFormat()) {
    case k32ARGBPixelFormat:
      for (size_t x = 0; x < width; ++x) {
        uint32_t argb;
        std::memcpy(&argb, in + 4 * x, 4);
        row_[x] = {Widen8To16((argb >> 16) & 0xFF), Widen8To16((argb >> 8) & 0xFF),
                   Widen8To16(argb & 0xFF), Widen8To16(argb >> 24)};
      }
      break;
    case k48RGBCodecType:
      for (size_t x = 0; x < width; ++x) {
        const uint8_t* p = in + 6 * x;
        row_[x] = {ReadBigEndian16(p), ReadBigEndian16(p + 2), ReadBigEndian16(p + 4), 0xFFFF};
      }
      break;
    case k64ARGBPixelFormat:
      for (size_t x = 0; x < width; ++x) {
        const uint8_t* p = in + 8 * x;
        row_[x] = {ReadBigEndian16(p + 2), ReadBigEndian16(p + 4), ReadBigEndian16(p + 6),
                   ReadBigEndian16(p)};
      }
      break;
    default:  // 8-bit grey
      for (size_t x = 0; x < width; ++x) {
        uint16_t v = Widen8To16(in[x]);
        row_[x] = {v, v, v, 0xFFFF};
      }
      break;
  }
}

OSErr RowPacker::Pack(int64_t y, uint8_t* out) {
  Fetch(y);
  src_->Release(y + 1);
  if (src_->Stopped()) return src_->StopError();
  switch (layout_) {
    case RowLayout::kGrey8:
      for (const Sample16& s : row_) {
        *out++ = Luma8(Reduce16To8(s.r), Reduce16To8(s.g), Reduce16To8(s.b));
      }
      break;
    case RowLayout::kRGB8:
      for (const Sample16& s : row_) {
        *out++ = Reduce16To8(s.r);
        *out++ = Reduce16To8(s.g);
        *out++ = Reduce16To8(s.b);
      }
      break;
    case RowLayout::kRGBA8:
      for (const Sample16& s : row_) {
        *out++ = Reduce16To8(s.r);
        *out++ = Reduce16To8(s.g);
        *out++ = Reduce16To8(s.b);
        *out++ = Reduce16To8(s.a);
      }
      break;
    case RowLayout::kRGB16:
      for (const Sample16& s : row_) {
        WriteBigEndian16(s.r, out);
        WriteBigEndian16(s.g, out + 2);
        WriteBigEndian16(s.b, out + 4);
        out += 6;
      }
      break;
    case RowLayout::kRGBA16:
      for (const Sample16& s : row_) {
        WriteBigEndian16(s.r, out);
        WriteBigEndian16(s.g, out + 2);
        WriteBigEndian16(s.b, out + 4);
        WriteBigEndian16(s.a, out + 6);
        out += 8;
      }
      break;
  }
  return noErr;
}
