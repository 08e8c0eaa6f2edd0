#include "codecs/jpeg/jpeg_entropy_stage.h"

#include <atomic>
#include <condition_variable>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "base/big_endian.h"
#include "codecs/common/buffer_rows.h"
#include "codecs/common/import_rows.h"
#include "codecs/jpeg/jpeg_entropy.h"
#include "codecs/jpeg/jpeg_errors.h"
#include "codecs/jpeg/jpeg_file_source.h"

// libjpeg's entropy decoder as its internal header (jpegint.h) lays it out
// in libjpeg-turbo 2.1.
struct jpeg_entropy_decoder {
  void (*start_pass)(j_decompress_ptr info);
  boolean (*decode_mcu)(j_decompress_ptr info, JBLOCKROW* blocks);
  boolean insufficient_data;
};

namespace {

// The stage leans on two internals of libjpeg-turbo 2.1, as its sources
// have them: the layout above, and that the one-pass coefficient controller
// (jdcoefct.c) zeroes an MCU's blocks and then calls decode_mcu, once for
// each MCU of the scan, in order. Built against another version, the stage
// is never taken.
#ifdef LIBJPEG_TURBO_VERSION_NUMBER
constexpr bool kStageBuilt =
    LIBJPEG_TURBO_VERSION_NUMBER >= 2001000 && LIBJPEG_TURBO_VERSION_NUMBER < 2002000;
#else
constexpr bool kStageBuilt = false;
#endif

std::atomic<int64_t> imagesStaged{0};
std::atomic<int64_t> floorSamples{int64_t(1) << 20};  // SetJpegEntropyStageFloor

// The ring: slots of coefficient blocks, each holding as many whole MCUs as
// fit: 1 MB, a few rows of MCUs of a large image.
constexpr int32_t kSlots = 4;
constexpr size_t kSlotBlocks = 2048;
constexpr size_t kSlotCoefficients = kSlotBlocks * kBlockCoefficients;

static_assert(sizeof(JBLOCK) == kBlockCoefficients * sizeof(int16_t));

// Between the entropy thread (which fills slots in turn) and the drawing
// thread (which takes them in turn). The first failure, either side's,
// wakes both.
class CoefficientRing {
 public:
  bool Allocate() {
    try {
      storage_.resize(kSlots * kSlotCoefficients);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  // The entropy thread's side: the next slot to fill (nullptr once the
  // drawing thread quit), then its MCUs given over.
  int16_t* Claim() {
    std::unique_lock lock(mutex_);
    fillerWaits_ = true;
    changed_.wait(lock, [this] { return filled_ - drained_ < kSlots || quit_; });
    fillerWaits_ = false;
    return quit_ ? nullptr : Slot(filled_);
  }
  void Fill(int64_t mcus) {
    std::lock_guard lock(mutex_);
    mcus_[filled_ % kSlots] = mcus;
    ++filled_;
    if (takerWaits_) changed_.notify_all();
  }
  // No more slots: the scan ended as the serial decode reads it plainly
  // (clean), or not.
  void End(bool clean) {
    std::lock_guard lock(mutex_);
    ended_ = true;
    failed_ = !clean;
    changed_.notify_all();
  }

  // The drawing thread's side: the next slot and its count of MCUs, after
  // giving the one before back. False once the entropy thread failed.
  bool Take(const int16_t** slot, int64_t* mcus) {
    std::unique_lock lock(mutex_);
    if (taken_) ++drained_;
    if (fillerWaits_) changed_.notify_all();
    takerWaits_ = true;
    changed_.wait(lock, [this] { return filled_ > drained_ || ended_; });
    takerWaits_ = false;
    taken_ = !failed_ && filled_ > drained_;
    if (!taken_) return false;
    *slot = Slot(drained_);
    *mcus = mcus_[drained_ % kSlots];
    return true;
  }
  void Quit() {
    std::lock_guard lock(mutex_);
    quit_ = true;
    changed_.notify_all();
  }
  bool Clean() {
    std::lock_guard lock(mutex_);
    return ended_ && !failed_;
  }

 private:
  int16_t* Slot(int64_t n) { return storage_.data() + (n % kSlots) * kSlotCoefficients; }

  std::vector<int16_t> storage_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int64_t mcus_[kSlots] = {};
  int64_t filled_ = 0, drained_ = 0;
  bool taken_ = false;  // the drawing thread holds slot drained_
  bool fillerWaits_ = false, takerWaits_ = false;
  bool ended_ = false, failed_ = false, quit_ = false;
};

// The entropy thread: every MCU of the scan into the ring, then whether
// the data ends as it should.
void FillRing(EntropyDecoder* decoder, int32_t blocksInMcu, int64_t mcus, CoefficientRing* ring) {
  const int64_t perSlot = int64_t(kSlotBlocks) / blocksInMcu;
  while (mcus > 0) {
    int16_t* const slot = ring->Claim();
    if (slot == nullptr) return;
    int64_t n = 0;
    for (; n < perSlot && n < mcus; ++n) {
      if (!decoder->DecodeMcu(slot + n * blocksInMcu * kBlockCoefficients)) {
        ring->End(false);
        return;
      }
    }
    ring->Fill(n);
    mcus -= n;
  }
  ring->End(decoder->EndsAtEndMarker());
}

// libjpeg's entropy decoder in our place: the first member, so that
// libjpeg's pointer to it leads to the rest.
struct HandingOn {
  jpeg_entropy_decoder pub{};
  CoefficientRing* ring = nullptr;
  int32_t blocksInMcu = 0;
  const int16_t* next = nullptr;  // the next MCU's blocks in the slot taken
  int64_t left = 0;               // MCUs from there on in that slot
};

void NoNewScan(j_decompress_ptr) {}  // the path never reads on to another scan

// Copies the next MCU's blocks into libjpeg's. FALSE (libjpeg's "suspend")
// once the entropy thread failed: the path gives up.
boolean HandOnMcu(j_decompress_ptr info, JBLOCKROW* blocks) {
  HandingOn* h = reinterpret_cast<HandingOn*>(info->entropy);
  if (h->left == 0 && !h->ring->Take(&h->next, &h->left)) return FALSE;
  for (int32_t b = 0; b < h->blocksInMcu; ++b) {
    std::memcpy(blocks[b][0], h->next + b * kBlockCoefficients, sizeof(JBLOCK));
  }
  h->next += h->blocksInMcu * kBlockCoefficients;
  --h->left;
  return TRUE;
}

struct StageDecoder {
  jpeg_decompress_struct info{};
  JpegErrors errors;
  bool created = false;
  std::unique_ptr<JpegFileSource> source;  // for a file read as it goes
  StageDecoder() = default;
  StageDecoder(const StageDecoder&) = delete;
  StageDecoder& operator=(const StageDecoder&) = delete;
  ~StageDecoder() {
    if (created) jpeg_destroy_decompress(&info);
  }
};

// One interleaved (or single-component) sequential Huffman scan of 8-bit
// samples, with no restart interval: the scan this path decodes.
bool OneBaselineScan(j_decompress_ptr info) {
  return !info->progressive_mode && !info->arith_code && info->data_precision == 8 &&
         info->restart_interval == 0 && !jpeg_has_multiple_scans(info) &&
         info->comps_in_scan == info->num_components && info->Ss == 0 && info->Se == DCTSIZE2 - 1 &&
         info->Ah == 0 && info->Al == 0 &&
         int64_t(info->image_width) * info->image_height * info->num_components >=
             floorSamples.load(std::memory_order_relaxed);
}

bool BuildTable(const JHUFF_TBL* table, HuffmanTable* out) {
  return table != nullptr && BuildHuffmanTable(table->bits, table->huffval, out);
}

// The scan as libjpeg set it up, once jpeg_start_decompress returned.
bool DescribeScan(const jpeg_decompress_struct& info, EntropyScan* scan) {
  if (info.blocks_in_MCU < 1 || info.blocks_in_MCU > kMaxBlocksInMcu) return false;
  scan->blocksInMcu = info.blocks_in_MCU;
  scan->mcus = int64_t(info.MCUs_per_row) * info.MCU_rows_in_scan;
  for (int32_t c = 0; c < info.comps_in_scan; ++c) {
    const jpeg_component_info* component = info.cur_comp_info[c];
    // libjpeg keeps no DC prediction for a component it does not need.
    if (!component->component_needed) return false;
    const int dc = component->dc_tbl_no, ac = component->ac_tbl_no;
    if (dc < 0 || dc > 3 || ac < 0 || ac > 3) return false;
    if (!BuildTable(info.dc_huff_tbl_ptrs[dc], &scan->dc[dc])) return false;
    if (!BuildTable(info.ac_huff_tbl_ptrs[ac], &scan->ac[ac])) return false;
  }
  for (int32_t b = 0; b < info.blocks_in_MCU; ++b) {
    const int c = info.MCU_membership[b];
    const jpeg_component_info* component = info.cur_comp_info[c];
    scan->component[b] = uint8_t(c);
    scan->dcTable[b] = uint8_t(component->dc_tbl_no);
    scan->acTable[b] = uint8_t(component->ac_tbl_no);
    // At 1/8 scale libjpeg drops the ACs: the inverse DCT reads the DC only.
    scan->acKept[b] = component->DCT_scaled_size > 1;
  }
  return true;
}

// Whether libjpeg has read exactly the scan's header, no byte of its data:
// the scan header must end at pos.
bool ScanStartsAt(const JpegBytes& file, const jpeg_decompress_struct& info, uint64_t pos) {
  const uint64_t length = 6 + 2 * uint64_t(info.comps_in_scan);
  uint8_t head[4] = {};
  if (info.unread_marker != 0 || pos < length + 2) return false;
  if (!ReadJpegBytes(file, pos - length - 2, 4, head)) return false;
  return head[0] == 0xFF && head[1] == 0xDA && ReadBigEndian16(head + 2) == length;
}

uint64_t SourcePosition(const StageDecoder& d, const JpegBytes& file) {
  if (d.source != nullptr) return JpegFileSourcePosition(*d.source);
  return uint64_t(d.info.src->next_input_byte - file.memory.data());
}

// Guarded: everything that can reach Fail happens in here, with nothing on
// the stack that needs unwinding. Reads the header and starts the decode;
// false for a file this path does not take.
bool StartGuarded(StageDecoder* d, const JpegBytes& file, const JpegDecodeOptions& options,
                  RowBand* dst, EntropyScan* scan, uint64_t* scanStart) {
  if (setjmp(d->errors.failed)) return false;
  jpeg_create_decompress(&d->info);
  d->created = true;
  if (d->source != nullptr) {
    d->info.src = &d->source->manager;
  } else {
    jpeg_mem_src(&d->info, file.memory.data(), static_cast<unsigned long>(file.memory.size()));
  }
  jpeg_read_header(&d->info, TRUE);
  SetJpegOutput(&d->info, options);
  if (!OneBaselineScan(&d->info)) return false;
  jpeg_start_decompress(&d->info);
  if (d->info.output_width != BufferWidth(*dst) || d->info.output_height != BufferHeight(*dst) ||
      d->info.output_components != 4 || !DescribeScan(d->info, scan)) {
    return false;
  }
  *scanStart = SourcePosition(*d, file);
  return ScanStartsAt(file, d->info, *scanStart);
}

// Guarded as above: reads every row into dst. False where the entropy
// thread gave up (libjpeg then returns no rows), or on any error.
bool ReadGuarded(StageDecoder* d, const JpegDecodeOptions& options, RowBand* dst, uint8_t* rgb,
                 int64_t* handedOn) {
  if (setjmp(d->errors.failed)) return false;
  const int64_t width = BufferWidth(*dst);
  while (d->info.output_scanline < d->info.output_height) {
    const JDIMENSION first = d->info.output_scanline;
    JSAMPROW rows[kJpegReadRows];
    int count = 0;
    for (; count < kJpegReadRows && first + JDIMENSION(count) < d->info.output_height; ++count) {
      rows[count] = BufferRow(*dst, first + count);
    }
    if (dst->Stopped()) return false;
    const JDIMENSION read = jpeg_read_scanlines(&d->info, rows, JDIMENSION(count));
    for (JDIMENSION i = 0; i < read; ++i) FinishJpegRow(options, rows[i], width, rgb);
    if (read == 0) return false;
    if (!PublishDrawnRows(dst, first + read)) return false;
    *handedOn = first + read;
  }
  return true;
}

// Guarded as above. The entropy thread found the end-of-image marker right
// after the scan: libjpeg is told so, and finishes as the serial decode
// does, without a word.
bool FinishGuarded(StageDecoder* d) {
  if (setjmp(d->errors.failed)) return false;
  d->info.unread_marker = JPEG_EOI;
  jpeg_finish_decompress(&d->info);
  return true;
}

// The stage's parts, made before its thread starts.
struct StageParts {
  std::unique_ptr<EntropyScan> scan;
  std::unique_ptr<EntropyDecoder> decoder;
  CoefficientRing ring;
  std::vector<uint8_t> rgb;  // a row of R, G, B for a CMYK profile's match
};

// Runs the entropy thread beside the drawing thread's reading.
JpegSplitOutcome RunStage(StageDecoder* d, StageParts* parts, const JpegDecodeOptions& options,
                          RowBand* dst, int64_t* handedOn) {
  HandingOn handing;
  handing.pub.start_pass = NoNewScan;
  handing.pub.decode_mcu = HandOnMcu;
  handing.ring = &parts->ring;
  handing.blocksInMcu = parts->scan->blocksInMcu;
  d->info.entropy = &handing.pub;
  std::thread entropy;
  try {
    entropy = std::thread(FillRing, parts->decoder.get(), parts->scan->blocksInMcu,
                          parts->scan->mcus, &parts->ring);
  } catch (const std::system_error&) {
    return JpegSplitOutcome::kNotTaken;
  }
  const bool read = ReadGuarded(d, options, dst, parts->rgb.data(), handedOn);
  if (!read) parts->ring.Quit();
  entropy.join();
  if (dst->Stopped()) return JpegSplitOutcome::kStopped;
  if (!read || !parts->ring.Clean() || !FinishGuarded(d)) return JpegSplitOutcome::kNotTaken;
  imagesStaged.fetch_add(1, std::memory_order_relaxed);
  return JpegSplitOutcome::kDecoded;
}

}  // namespace

JpegSplitOutcome DecodeJpegWithEntropyStage(const JpegBytes& file, const JpegDecodeOptions& options,
                                            RowBand* dst, int64_t* handedOn) {
  *handedOn = 0;
  if (!kStageBuilt || options.threads < 2) return JpegSplitOutcome::kNotTaken;
  StageDecoder d;
  d.info.err = QuietJpegErrors(&d.errors);
  d.errors.manager.emit_message = JpegFailOnWarning;  // the serial decode will say it
  StageParts parts;
  try {
    if (file.fd >= 0) {
      d.source.reset(new JpegFileSource);
      OpenJpegFileSource(d.source.get(), file.fd, file.size);
    }
    parts.scan.reset(new EntropyScan);
    if (options.cmyk && options.cmykMatch != nullptr)
      parts.rgb.resize(size_t(BufferWidth(*dst)) * 3);
  } catch (const std::bad_alloc&) {
    return JpegSplitOutcome::kNotTaken;
  }
  uint64_t scanStart = 0;
  if (!StartGuarded(&d, file, options, dst, parts.scan.get(), &scanStart)) {
    return JpegSplitOutcome::kNotTaken;
  }
  try {
    parts.decoder.reset(new EntropyDecoder(*parts.scan, file, scanStart));
  } catch (const std::bad_alloc&) {
    return JpegSplitOutcome::kNotTaken;
  }
  if (!parts.ring.Allocate()) return JpegSplitOutcome::kNotTaken;
  return RunStage(&d, &parts, options, dst, handedOn);
}

int64_t SetJpegEntropyStageFloor(int64_t samples) {
  return floorSamples.exchange(samples, std::memory_order_relaxed);
}

int64_t JpegImagesDecodedWithEntropyStage() {
  return imagesStaged.load(std::memory_order_relaxed);
}
