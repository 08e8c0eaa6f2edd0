#include "codecs/jpeg/jpeg_rows.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>  // jpeglib.h expects it
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

#include "codecs/common/buffer_rows.h"
#include "codecs/common/import_rows.h"
#include "codecs/jpeg/jpeg_bands.h"
#include "codecs/jpeg/jpeg_entropy_stage.h"
#include "codecs/jpeg/jpeg_errors.h"
#include "codecs/jpeg/jpeg_file_source.h"
#include "codecs/jpeg/jpeg_output.h"
#include "platform/decode_warnings.h"

namespace {

struct Decoder {
  jpeg_decompress_struct info{};
  JpegErrors errors;
  jpeg_progress_mgr progress{};
  bool created = false;
  bool warned = false;
  bool endedEarly = false;            // the data stopped before its end-of-image marker
  bool cut = false;                   // and before the image did
  bool scanned[MAX_COMPONENTS] = {};  // components some scan has carried
  Decoder() = default;
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
  ~Decoder() {
    if (created) jpeg_destroy_decompress(&info);
  }
};

Decoder* DecoderOf(j_common_ptr info) {
  return reinterpret_cast<Decoder*>(info->client_data);
}

// Levels below 0 are warnings; the others are trace messages. Where the
// data stops, libjpeg warns and makes believe an end-of-image marker
// follows. A Huffman-coded scan that then still needs bits was cut, and
// decoding on would only paint grey. Arithmetic coding says nothing when
// it runs dry, and may end its last row of blocks early by design; a
// scan that stops before that row was cut either way. A warning about an
// image decoded anyway is noted, in libjpeg's words.
void NoteMessage(j_common_ptr info) {
  char text[JMSG_LENGTH_MAX] = {};
  info->err->format_message(info, text);
  NoteDecodeWarning(text);
}

void NoteWarning(j_common_ptr info, int level) {
  if (level >= 0) return;
  Decoder* d = DecoderOf(info);
  d->warned = true;
  NoteMessage(info);
  const int code = info->err->msg_code;
  if (code == JWRN_JPEG_EOF) {
    d->endedEarly = true;
    d->cut = d->info.input_iMCU_row + 1 < d->info.total_iMCU_rows;
  }
  if (code == JWRN_HIT_MARKER && d->endedEarly) d->cut = true;
  if (d->cut) JpegFail(info);
}

// Notes the components of the scan being read; too many scans is fatal
// whatever came before.
void WatchScans(j_common_ptr info) {
  auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
  Decoder* d = DecoderOf(info);
  for (int i = 0; i < decompress->comps_in_scan; ++i) {
    d->scanned[decompress->cur_comp_info[i]->component_index] = true;
  }
  if (decompress->input_scan_number > kJpegMaxScans) {
    d->warned = false;
    JpegFail(info);
  }
}

// Whether every component arrived, and in a progressive file every
// coefficient down to its last bit: a file cut between scans lacks some.
bool AllScansArrived(const Decoder& d) {
  for (int c = 0; c < d.info.num_components; ++c) {
    if (!d.scanned[c]) return false;
    if (!d.info.progressive_mode) continue;
    for (int k = 0; k < DCTSIZE2; ++k) {
      if (d.info.coef_bits[c][k] != 0) return false;
    }
  }
  return true;
}

// Where the compressed data comes from: bytes in memory, or the open file.
struct JpegInput {
  ByteSpan bytes;
  JpegFileSource* fileSource = nullptr;
};

// Where the rows go: rows above `skip` were handed on already (by the band
// decode that gave up), and are decoded again into scratch only.
struct RowSink {
  RowBand* dst = nullptr;
  int64_t skip = 0;
  uint8_t* scratch = nullptr;  // kJpegReadRows rows, when skip > 0
  uint8_t* rgb = nullptr;      // a row of R, G, B for a CMYK profile's match
};

// Reads the decoded rows into sink, from the top.
bool ReadRows(Decoder* d, const JpegDecodeOptions& options, const RowSink& sink) {
  RowBand* dst = sink.dst;
  const int64_t width = BufferWidth(*dst);
  while (d->info.output_scanline < d->info.output_height) {
    const JDIMENSION first = d->info.output_scanline;
    JSAMPROW rows[kJpegReadRows];
    int count = 0;
    while (count < kJpegReadRows && first + JDIMENSION(count) < d->info.output_height) {
      const int64_t y = first + count;
      rows[count] = y < sink.skip ? sink.scratch + count * width * 4 : BufferRow(*dst, y);
      ++count;
    }
    if (dst->Stopped()) return false;  // the reader failed
    const JDIMENSION read = jpeg_read_scanlines(&d->info, rows, JDIMENSION(count));
    if (read == 0) return false;  // cannot happen: the sources never suspend
    for (JDIMENSION i = 0; i < read; ++i) {
      if (first + i >= sink.skip) FinishJpegRow(options, rows[i], width, sink.rgb);
    }
    if (first + read > sink.skip && !PublishDrawnRows(dst, first + read)) return false;
  }
  return true;
}

// Guarded: everything that can reach Fail happens in here, with nothing on
// the stack that needs unwinding.
bool DecodeGuarded(Decoder* d, const JpegInput& input, const JpegDecodeOptions& options,
                   const RowSink& sink) {
  if (setjmp(d->errors.failed)) return false;
  jpeg_create_decompress(&d->info);  // clears all but the error manager
  d->created = true;
  d->info.client_data = d;
  d->info.progress = &d->progress;
  if (input.fileSource != nullptr) {
    d->info.src = &input.fileSource->manager;
  } else {
    jpeg_mem_src(&d->info, input.bytes.data(), static_cast<unsigned long>(input.bytes.size()));
  }
  jpeg_read_header(&d->info, TRUE);
  SetJpegOutput(&d->info, options);
  jpeg_start_decompress(&d->info);  // reads all of a file of several scans
  if (d->endedEarly && jpeg_has_multiple_scans(&d->info) && !AllScansArrived(*d)) {
    d->cut = true;
    return false;
  }
  if (d->info.output_width != BufferWidth(*sink.dst) ||
      d->info.output_height != BufferHeight(*sink.dst) || d->info.output_components != 4) {
    return false;
  }
  if (!ReadRows(d, options, sink)) return false;
  jpeg_finish_decompress(&d->info);
  return true;
}

}  // namespace

namespace {

// The serial decode, of which rows [0, skip) were handed on already.
OSErr Decode(const JpegInput& input, const JpegDecodeOptions& options, RowBand* dst, int64_t skip) {
  std::vector<uint8_t> rgb, scratch;
  try {
    if (options.cmyk && options.cmykMatch != nullptr) rgb.resize(size_t(BufferWidth(*dst)) * 3);
    if (skip > 0) scratch.resize(size_t(BufferWidth(*dst)) * 4 * kJpegReadRows);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  Decoder d;
  d.info.err = QuietJpegErrors(&d.errors);
  d.errors.manager.emit_message = NoteWarning;
  d.info.client_data = &d;
  d.progress.progress_monitor = WatchScans;
  const RowSink sink{dst, skip, scratch.data(), rgb.data()};
  const bool decoded = DecodeGuarded(&d, input, options, sink);
  if (dst->Stopped()) return dst->StopError();
  if (d.cut || (d.endedEarly && !decoded)) return codecErr;
  if (decoded) return noErr;
  // An error after a warning about damaged data, once every row is out
  // (in the data that follows them), still leaves the whole image; before
  // that, rows never decoded would be shown as if they were.
  if (d.warned && d.created && d.info.output_height > 0 &&
      d.info.output_scanline >= d.info.output_height) {
    NoteMessage(reinterpret_cast<j_common_ptr>(&d.info));
    return noErr;
  }
  return codecErr;
}

std::optional<OSErr> Result(JpegSplitOutcome outcome, RowBand* dst) {
  switch (outcome) {
    case JpegSplitOutcome::kDecoded:
      return noErr;
    case JpegSplitOutcome::kStopped:
      return dst->StopError();
    case JpegSplitOutcome::kNotTaken:
      break;
  }
  return std::nullopt;
}

// Two threads where the file and the budget allow: bands for a file with
// restart markers, else the entropy stage; the serial decode for whatever
// they leave. Their result, or nothing when they were not taken (handedOn
// then says how many rows they already gave).
std::optional<OSErr> DecodeOnTwoThreads(const JpegBytes& bytes, const JpegDecodeOptions& options,
                                        RowBand* dst, int64_t* handedOn) {
  if (const auto banded = Result(DecodeJpegBands(bytes, options, dst, handedOn), dst)) {
    return banded;
  }
  if (*handedOn > 0) return std::nullopt;
  return Result(DecodeJpegWithEntropyStage(bytes, options, dst, handedOn), dst);
}

}  // namespace

OSErr DecodeJpegRows(ByteSpan file, const JpegDecodeOptions& options, RowBand* dst) {
  int64_t handedOn = 0;
  if (const auto split =
          DecodeOnTwoThreads(JpegBytes{file, -1, file.size()}, options, dst, &handedOn)) {
    return *split;
  }
  return Decode(JpegInput{file, nullptr}, options, dst, handedOn);
}

OSErr DecodeJpegRowsFromFile(int fd, uint64_t size, const JpegDecodeOptions& options,
                             RowBand* dst) {
  int64_t handedOn = 0;
  if (const auto split =
          DecodeOnTwoThreads(JpegBytes{ByteSpan(), fd, size}, options, dst, &handedOn)) {
    return *split;
  }
  std::unique_ptr<JpegFileSource> source(new (std::nothrow) JpegFileSource);
  if (source == nullptr) return memFullErr;
  OpenJpegFileSource(source.get(), fd, size);
  return Decode(JpegInput{ByteSpan(), source.get()}, options, dst, handedOn);
}
