// JPEG exporter over libjpeg's scan-line interface: colour (depth 24 and 32)
// or grey (8, 40); 16-bit buffers are reduced to 8 bits, alpha is dropped.
// Rows are read in place, a band at a time, so that the encoder can follow
// a resampler still filling the buffer on another thread. The settings are
// TurboJPEG's (accurate DCT, its subsampling factors), and so are the bytes.
#include <algorithm>
#include <bit>
#include <csetjmp>
#include <cstdio>  // jpeglib.h expects it
#include <new>
#include <vector>

#include <jpeglib.h>

#include "codecs/common/begin_export.h"
#include "codecs/common/buffer_rows.h"
#include "codecs/common/encoded_bytes.h"
#include "codecs/common/row_packer.h"
#include "codecs/jpeg/jpeg_codec.h"
#include "codecs/jpeg/jpeg_errors.h"
#include "codecs/jpeg/jpeg_gain_map.h"
#include "platform/quality.h"

namespace {

constexpr J_COLOR_SPACE kNativeArgb =
    std::endian::native == std::endian::little ? JCS_EXT_BGRA : JCS_EXT_ARGB;
constexpr int64_t kMaxJpegDimension = 65500;  // libjpeg's limit
// From this quality on, chroma keeps full resolution; below it 4:2:0 costs
// less than the quantisation already does.
constexpr int kFullChromaPercent = 90;
constexpr int kBandRows = 16;

enum class Chroma { kGrey, k444, k422, k420 };

// How the buffer's rows reach libjpeg: in place where their layout is one
// libjpeg reads, else packed to 8-bit RGB a row at a time.
struct RowSource {
  J_COLOR_SPACE space = JCS_RGB;
  int components = 3;
  bool packed = false;
};

OSErr ChooseRowSource(RowBand& image, RowSource* source) {
  switch (image.PixelFormat()) {
    case k32ARGBPixelFormat:
      *source = {kNativeArgb, 4, false};
      return noErr;
    case k8IndexedPixelFormat:
    case k8IndexedGrayPixelFormat:
      *source = {JCS_GRAYSCALE, 1, false};
      return noErr;
    case k48RGBCodecType:
    case k64ARGBPixelFormat:
      *source = {JCS_RGB, 3, true};
      return noErr;
    default:
      return cDepthErr;
  }
}

Chroma ChooseChroma(const RowSource& source, int32_t depth, int percent, int32_t asked) {
  if (source.space == JCS_GRAYSCALE) return Chroma::kGrey;
  if (ChannelsForDepth(depth) == ExportChannels::kGrey) return Chroma::kGrey;
  if (asked == 444) return Chroma::k444;
  if (asked == 422) return Chroma::k422;
  if (asked == 420) return Chroma::k420;
  return percent >= kFullChromaPercent ? Chroma::k444 : Chroma::k420;
}

// libjpeg fills a buffer of this size, which is handed to the sink each
// time it is full.
constexpr size_t kOutputStep = size_t(1) << 16;

struct Encoder {
  jpeg_compress_struct info{};
  JpegErrors errors;
  jpeg_destination_mgr destination{};
  ByteSink* out = nullptr;
  uint8_t* buffer = nullptr;
  OSErr sinkError = noErr;
  bool created = false;
  Encoder() = default;
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;
  ~Encoder() {
    if (created) jpeg_destroy_compress(&info);
  }
};

Encoder* EncoderOf(j_common_ptr info) {
  return static_cast<Encoder*>(info->client_data);
}

void StartOutput(j_compress_ptr info) {
  Encoder* e = EncoderOf(reinterpret_cast<j_common_ptr>(info));
  e->destination.next_output_byte = e->buffer;
  e->destination.free_in_buffer = kOutputStep;
}

// Hands the first used bytes of the buffer to the sink and starts it over.
void PassOn(j_compress_ptr info, size_t used) {
  Encoder* e = EncoderOf(reinterpret_cast<j_common_ptr>(info));
  e->sinkError = e->out->Append(e->buffer, used);
  if (e->sinkError != noErr) JpegFail(reinterpret_cast<j_common_ptr>(info));
  StartOutput(info);
}

// libjpeg calls this only when the whole buffer is used, whatever
// free_in_buffer says.
boolean NextOutput(j_compress_ptr info) {
  PassOn(info, kOutputStep);
  return TRUE;
}

void EndOutput(j_compress_ptr info) {
  Encoder* e = EncoderOf(reinterpret_cast<j_common_ptr>(info));
  PassOn(info, kOutputStep - e->destination.free_in_buffer);
}

void Configure(jpeg_compress_struct* info, const RowSource& source, Chroma chroma, int percent,
               bool progressive) {
  info->in_color_space = source.space;
  info->input_components = source.components;
  jpeg_set_defaults(info);
  jpeg_set_quality(info, percent, TRUE);
  info->dct_method = JDCT_ISLOW;
  jpeg_set_colorspace(info, chroma == Chroma::kGrey ? JCS_GRAYSCALE : JCS_YCbCr);
  info->comp_info[0].h_samp_factor = chroma == Chroma::k420 || chroma == Chroma::k422 ? 2 : 1;
  info->comp_info[0].v_samp_factor = chroma == Chroma::k420 ? 2 : 1;
  if (chroma != Chroma::kGrey) {
    for (int c = 1; c < 3; ++c) {
      info->comp_info[c].h_samp_factor = 1;
      info->comp_info[c].v_samp_factor = 1;
    }
  }
  // The scans follow the components just set; their Huffman tables are
  // made for this image (libjpeg does so for any progressive file).
  if (progressive) {
    jpeg_simple_progression(info);
    info->optimize_coding = TRUE;
  }
}

// Guarded: everything that can reach Fail happens in here, with nothing on
// the stack that needs unwinding.
bool EncodeGuarded(Encoder* e, RowBand& image, const RowSource& source, Chroma chroma, int percent,
                   bool progressive, RowPacker* packer, uint8_t* packedRows) {
  if (setjmp(e->errors.failed)) return false;
  jpeg_create_compress(&e->info);  // clears all but the error manager
  e->created = true;
  e->info.client_data = e;
  e->destination.init_destination = StartOutput;
  e->destination.empty_output_buffer = NextOutput;
  e->destination.term_destination = EndOutput;
  e->info.dest = &e->destination;
  e->info.image_width = JDIMENSION(BufferWidth(image));
  e->info.image_height = JDIMENSION(BufferHeight(image));
  Configure(&e->info, source, chroma, percent, progressive);
  jpeg_start_compress(&e->info, TRUE);
  const int64_t height = BufferHeight(image);
  const int64_t packedRowBytes = BufferWidth(image) * 3;
  while (e->info.next_scanline < e->info.image_height) {
    const int64_t first = e->info.next_scanline;
    const int count = int(std::min<int64_t>(kBandRows, height - first));
    JSAMPROW rows[kBandRows];
    if (source.packed) {
      for (int i = 0; i < count; ++i) {
        rows[i] = packedRows + i * packedRowBytes;
        packer->Pack(first + i, rows[i]);
      }
    } else {
      for (int i = 0; i < count; ++i) {
        rows[i] = const_cast<JSAMPROW>(image.RowToRead(first + i));
      }
    }
    if (image.Stopped()) return false;
    jpeg_write_scanlines(&e->info, rows, JDIMENSION(count));
    if (!source.packed) image.Release(first + count);
  }
  jpeg_finish_compress(&e->info);
  return true;
}

OSErr EncodeJpeg(const ExportRequest& request, ByteSink* out) {
  ExportImage begun;
  if (OSErr err = BeginExport(request, out, kMaxJpegDimension, &begun)) return err;
  RowBand& image = *begun.rows;
  const int64_t width = begun.width;
  const int64_t height = begun.height;
  RowSource source;
  if (OSErr err = ChooseRowSource(image, &source)) return err;
  // Lossless requests (1024 and above) get the best JPEG there is.
  const int percent = QualityPercent(request.quality);
  const Chroma chroma = ChooseChroma(source, request.depth, percent, request.subsampling);

  RowPacker packer;
  std::vector<uint8_t> packedRows;
  std::vector<uint8_t> buffer;
  try {
    if (source.packed) {
      if (OSErr err = packer.Prepare(image, RowLayout::kRGB8)) return err;
      packedRows.resize(size_t(width * 3 * kBandRows));
    }
    buffer.resize(kOutputStep);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  if (std::vector<uint8_t>* memory = out->Memory()) {
    memory->clear();
    ReserveEncodedBytes(memory, width * height * source.components);
  }
  Encoder e;
  e.out = out;
  e.buffer = buffer.data();
  e.info.err = QuietJpegErrors(&e.errors);
  e.info.client_data = &e;
  if (!EncodeGuarded(&e, image, source, chroma, percent, request.progressive, &packer,
                     packedRows.data())) {
    if (image.Stopped()) return image.StopError();
    return e.sinkError != noErr ? e.sinkError : codecErr;
  }
  return noErr;
}

}  // namespace

const ExporterCodec kJpegExporter = {
    .format = &kJpegFormat,
    .name = JpegCodecName,
    .encode = EncodeJpeg,
    .withGainMap = WithGainMapSegments,
};
