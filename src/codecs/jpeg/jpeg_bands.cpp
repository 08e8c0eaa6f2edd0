#include "codecs/jpeg/jpeg_bands.h"

#include <algorithm>
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
#include "base/large_block.h"
#include "base/memory_limit.h"
#include "codecs/common/buffer_rows.h"
#include "codecs/common/import_rows.h"
#include "codecs/jpeg/jpeg_errors.h"
#include "codecs/jpeg/jpeg_output.h"

namespace {

std::atomic<int64_t> imagesInBands{0};

// Bytes of decoded rows a band holds (SetJpegBandBytes): the second
// thread's band waits whole for its turn, so this is what the split adds
// to the serial decode's memory. Where chroma is upsampled vertically each
// band decodes one iMCU row below its own again, so smaller bands cost
// more work: 2 MB (5 iMCU rows of a 6000-pixel-wide image) costs no more
// CPU than bands of 32 rows that decoded rows above their own too.
std::atomic<int64_t> bandBytes{int64_t(2) << 20};
// However wide the image, at least this many iMCU rows (the rows decoded
// again are at most a quarter more); however narrow, no more than these.
constexpr int64_t kMinBandRows = 4;
constexpr int64_t kMaxBandRows = 32;

struct BandLayout {
  int32_t rows = 0;   // iMCU rows a band, the last one perhaps fewer
  int32_t count = 0;  // bands
  int32_t outPerImcu = 0;
};

// As many iMCU rows as the budget holds, in whole restart steps.
BandLayout LayOutBands(const JpegRestartMap& map, int32_t scale, int64_t width) {
  BandLayout l;
  l.outPerImcu = map.imcuHeight / scale;
  const int64_t imcuBytes = width * 4 * l.outPerImcu;
  const int64_t fit =
      std::clamp(bandBytes.load(std::memory_order_relaxed) / imcuBytes, kMinBandRows, kMaxBandRows);
  l.rows = int32_t((fit + map.stepRows - 1) / map.stepRows * map.stepRows);
  l.count = (map.imcuRows + l.rows - 1) / l.rows;
  return l;
}

// A band's iMCU rows [first, end), the first ones of the rows [first,
// bottom) its stream holds.
struct BandRows {
  int32_t first = 0, end = 0, bottom = 0;
};

BandRows RowsOfBand(const JpegRestartMap& map, const BandLayout& l, int32_t band) {
  BandRows r;
  r.first = band * l.rows;
  r.end = std::min(r.first + l.rows, map.imcuRows);
  r.bottom = map.upsamplesVertically ? std::min(r.end + 1, map.imcuRows) : r.end;
  return r;
}

// The header with the band's height, its intervals with their markers
// numbered from 0, and an end marker. first starts an interval: it is a
// multiple of the restart step.
bool BuildStream(const JpegRestartMap& map, const JpegBytes& file, const BandRows& r,
                 std::vector<uint8_t>* out) {
  const bool last = r.bottom == map.imcuRows;
  const int64_t height = last ? map.imageHeight - int64_t(r.first) * map.imcuHeight
                              : int64_t(r.bottom - r.first) * map.imcuHeight;
  const int64_t interval = map.restartInterval;
  const size_t first = size_t(int64_t(r.first) * map.mcusPerImcuRow / interval);
  const int64_t endMcu = last ? map.totalMcus : int64_t(r.bottom) * map.mcusPerImcuRow;
  const size_t final = size_t((endMcu - 1) / interval);
  const uint64_t from = map.starts[first];
  const uint64_t to = final + 1 < map.starts.size() ? map.starts[final + 1] - 2 : map.end;
  size_t at = 0;
  try {
    out->assign(map.header.begin(), map.header.end());
    at = out->size();
    out->resize(at + size_t(to - from) + 2);
  } catch (const std::bad_alloc&) {
    return false;
  }
  WriteBigEndian16(uint16_t(height), out->data() + map.heightOffset);
  if (!ReadJpegBytes(file, from, size_t(to - from), out->data() + at)) return false;
  for (size_t i = first + 1; i <= final; ++i) {
    (*out)[at + size_t(map.starts[i] - 1 - from)] = uint8_t(0xD0 + ((i - 1 - first) & 7));
  }
  (*out)[out->size() - 2] = 0xFF;
  (*out)[out->size() - 1] = 0xD9;
  return true;
}

// Where a band's own rows go: straight into the rows handed on, or into
// the second thread's rows.
struct BandTarget {
  RowBand* dst = nullptr;  // with firstRow and handedOn
  int64_t firstRow = 0;
  int64_t* handedOn = nullptr;
  uint8_t* rows = nullptr;  // without dst, rowBytes apart
  int64_t rowBytes = 0;

  uint8_t* Row(int64_t y) const {
    return dst != nullptr ? BufferRow(*dst, firstRow + y) : rows + y * rowBytes;
  }
  bool Publish(int64_t count) const {
    if (dst == nullptr) return true;
    if (!PublishDrawnRows(dst, firstRow + count)) return false;
    *handedOn = firstRow + count;
    return true;
  }
};

// A thread's own buffers.
struct BandWork {
  std::vector<uint8_t> stream;
  std::vector<uint8_t> rgb;  // a row of R, G, B for a CMYK profile's match
};

struct BandDecoder {
  jpeg_decompress_struct info{};
  JpegErrors errors;
  bool created = false;
  BandDecoder() = default;
  BandDecoder(const BandDecoder&) = delete;
  BandDecoder& operator=(const BandDecoder&) = delete;
  ~BandDecoder() {
    if (created) jpeg_destroy_decompress(&info);
  }
};

// What one band's decoding needs to know. Where chroma is upsampled
// vertically, a band's stream starts at its own rows, so its first row is
// upsampled from no row above and comes out wrong; the band above, which
// decodes the next iMCU row anyway, gives that row instead (its "seam").
// No other row reads across the cut.
struct BandJob {
  const JpegDecodeOptions* options = nullptr;
  int64_t width = 0;
  int64_t keep = 0;                 // the band's own rows
  const uint8_t* seamIn = nullptr;  // the band's first row, from the band above
  uint8_t* seamOut = nullptr;       // the next band's first row goes here
  bool last = false;
};

// Guarded: everything that can reach Fail happens in here, with nothing on
// the stack that needs unwinding.
bool DecodeGuarded(BandDecoder* d, const BandJob& job, const BandTarget& target, BandWork* work) {
  if (setjmp(d->errors.failed)) return false;
  jpeg_create_decompress(&d->info);
  d->created = true;
  jpeg_mem_src(&d->info, work->stream.data(), static_cast<unsigned long>(work->stream.size()));
  jpeg_read_header(&d->info, TRUE);
  SetJpegOutput(&d->info, *job.options);
  jpeg_start_decompress(&d->info);
  const int64_t rows = job.keep + (job.seamOut != nullptr ? 1 : 0);
  if (d->info.output_width != job.width || d->info.output_components != 4 ||
      int64_t(d->info.output_height) < rows || (job.last && d->info.output_height != rows)) {
    return false;
  }
  while (int64_t(d->info.output_scanline) < rows) {
    const int64_t first = d->info.output_scanline;
    JSAMPROW out[kJpegReadRows];
    int count = 0;
    for (; count < kJpegReadRows && first + count < rows; ++count) {
      const int64_t y = first + count;
      out[count] = y == job.keep ? job.seamOut : target.Row(y);
    }
    const JDIMENSION read = jpeg_read_scanlines(&d->info, out, JDIMENSION(count));
    if (read == 0) return false;
    for (JDIMENSION i = 0; i < read; ++i) {
      FinishJpegRow(*job.options, out[i], job.width, work->rgb.data());
    }
    if (first == 0 && job.seamIn != nullptr) {
      std::memcpy(out[0], job.seamIn, size_t(job.width) * 4);
    }
    const int64_t own = std::min(first + int64_t(read), job.keep);
    if (own > first && !target.Publish(own)) return false;
  }
  // The serial decode reads on to the end marker, warning about bytes
  // before it; so does the last band.
  if (job.last) jpeg_finish_decompress(&d->info);
  return true;
}

bool AllocateWork(int64_t width, BandWork* work) {
  try {
    work->rgb.resize(size_t(width) * 3);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// One image's bands, decoded by the drawing thread (the even ones, and
// the handing on) and a second thread (the odd ones, into slot_).
class BandRun {
 public:
  BandRun(const JpegRestartMap& map, const JpegBytes& file, const JpegDecodeOptions& options,
          RowBand* dst)
      : map_(map),
        file_(file),
        options_(options),
        dst_(dst),
        layout_(LayOutBands(map, options.scale, BufferWidth(*dst))),
        width_(BufferWidth(*dst)) {}

  int32_t Bands() const { return layout_.count; }
  JpegSplitOutcome Run(int64_t* handedOn);

 private:
  // The rows of the output that band b gives: [*first, *first + *count).
  void OutputRows(int32_t band, int64_t* first, int64_t* count) const;
  // seamIn and seamOut as BandJob's, taken where the band has them.
  bool Decode(int32_t band, const BandTarget& target, const uint8_t* seamIn, uint8_t* seamOut,
              BandWork* work) const;
  void Second();
  bool HandOn(int32_t band);

  const JpegRestartMap& map_;
  const JpegBytes& file_;
  const JpegDecodeOptions& options_;
  RowBand* dst_;
  const BandLayout layout_;
  const int64_t width_;
  uint8_t* slot_ = nullptr;  // the second thread's band of rows and its seam, while Run runs
  // The drawing thread's seams: its bands' for the odd ones, and the odd
  // bands' (out of slot_) for its next.
  std::vector<uint8_t> toOdd_, toEven_;
  int64_t handedOn_ = 0;
  // Between the threads, under mutex_: the band whose rows slot_ holds
  // (-1 for none), whether slot_ may be filled, and the ends.
  std::mutex mutex_;
  std::condition_variable changed_;
  int32_t ready_ = -1;
  bool slotFree_ = true;
  bool failed_ = false;
  bool quit_ = false;
};

void BandRun::OutputRows(int32_t band, int64_t* first, int64_t* count) const {
  const BandRows r = RowsOfBand(map_, layout_, band);
  *first = int64_t(r.first) * layout_.outPerImcu;
  *count = r.end == map_.imcuRows ? BufferHeight(*dst_) - *first
                                  : int64_t(r.end - r.first) * layout_.outPerImcu;
}

bool BandRun::Decode(int32_t band, const BandTarget& target, const uint8_t* seamIn,
                     uint8_t* seamOut, BandWork* work) const {
  const BandRows r = RowsOfBand(map_, layout_, band);
  if (!BuildStream(map_, file_, r, &work->stream)) return false;
  BandJob job;
  job.options = &options_;
  job.width = width_;
  int64_t first = 0;
  OutputRows(band, &first, &job.keep);
  job.last = r.end == map_.imcuRows;
  job.seamIn = map_.upsamplesVertically && band > 0 ? seamIn : nullptr;
  job.seamOut = map_.upsamplesVertically && !job.last ? seamOut : nullptr;
  BandDecoder d;
  d.info.err = QuietJpegErrors(&d.errors);
  d.errors.manager.emit_message = JpegFailOnWarning;  // the serial decode will say it
  return DecodeGuarded(&d, job, target, work);
}

void BandRun::Second() {
  BandWork work;
  bool ok = AllocateWork(width_, &work);
  const BandTarget target{nullptr, 0, nullptr, slot_, width_ * 4};
  uint8_t* seam = slot_ + int64_t(layout_.rows) * layout_.outPerImcu * width_ * 4;
  for (int32_t band = 1; band < layout_.count; band += 2) {
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return slotFree_ || quit_; });
      if (quit_) return;
      slotFree_ = false;
    }
    ok = ok && Decode(band, target, nullptr, seam, &work);
    {
      std::lock_guard lock(mutex_);
      if (ok) ready_ = band;
      failed_ = !ok;
    }
    changed_.notify_all();
    if (!ok) return;
  }
}

// Copies the second thread's band into dst, publishing as it goes.
bool BandRun::HandOn(int32_t band) {
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this, band] { return ready_ == band || failed_; });
    if (ready_ != band) return false;
  }
  int64_t first = 0, count = 0;
  OutputRows(band, &first, &count);
  const size_t rowBytes = size_t(width_) * 4;
  for (int64_t y = 0; y < count; ++y) {
    const bool seam = y == 0 && map_.upsamplesVertically;
    std::memcpy(BufferRow(*dst_, first + y), seam ? toOdd_.data() : slot_ + y * rowBytes, rowBytes);
    if ((y + 1) % RowBand::kRowsInFlight == 0 || y + 1 == count) {
      if (!PublishDrawnRows(dst_, first + y + 1)) return false;
      handedOn_ = first + y + 1;
    }
  }
  if (map_.upsamplesVertically && band + 1 < layout_.count) {
    std::memcpy(toEven_.data(), slot_ + count * rowBytes, rowBytes);
  }
  {
    std::lock_guard lock(mutex_);
    ready_ = -1;
    slotFree_ = true;
  }
  changed_.notify_all();
  return true;
}

// The second thread's rows, counted as pixel memory while they are held.
struct SlotReservation {
  uint64_t bytes = 0;
  bool held = false;
  explicit SlotReservation(uint64_t size) : bytes(size), held(ReservePixelBytes(size)) {}
  SlotReservation(const SlotReservation&) = delete;
  SlotReservation& operator=(const SlotReservation&) = delete;
  ~SlotReservation() {
    if (held) ReleasePixelBytes(bytes);
  }
};

// Those rows' memory, in 2 MB pages where the system has them: faulted in
// a few times, not thousands.
struct SlotBlock {
  uint8_t* bytes = nullptr;
  size_t size = 0;
  explicit SlotBlock(size_t n) : bytes(static_cast<uint8_t*>(AllocateLargeBlock(n))), size(n) {}
  SlotBlock(const SlotBlock&) = delete;
  SlotBlock& operator=(const SlotBlock&) = delete;
  ~SlotBlock() {
    if (bytes != nullptr) FreeLargeBlock(bytes, size);
  }
};

JpegSplitOutcome BandRun::Run(int64_t* handedOn) {
  BandWork work;
  const size_t slotBytes =
      size_t(width_) * 4 * (size_t(layout_.rows) * size_t(layout_.outPerImcu) + 1);
  const SlotReservation reservation(slotBytes);
  if (!reservation.held) return JpegSplitOutcome::kNotTaken;  // one thread, no more memory
  const SlotBlock block(slotBytes);                           // goes before its reservation
  slot_ = block.bytes;
  if (slot_ == nullptr || !AllocateWork(width_, &work)) return JpegSplitOutcome::kNotTaken;
  try {
    toOdd_.resize(size_t(width_) * 4);
    toEven_.resize(size_t(width_) * 4);
  } catch (const std::bad_alloc&) {
    return JpegSplitOutcome::kNotTaken;
  }
  std::thread second;
  try {
    second = std::thread([this] { Second(); });
  } catch (const std::system_error&) {
    return JpegSplitOutcome::kNotTaken;
  }
  bool ok = true;
  for (int32_t band = 0; ok && band < layout_.count && !dst_->Stopped(); ++band) {
    if (band % 2 == 1) {
      ok = HandOn(band);
    } else {
      int64_t first = 0, count = 0;
      OutputRows(band, &first, &count);
      ok = Decode(band, BandTarget{dst_, first, &handedOn_, nullptr, 0}, toEven_.data(),
                  toOdd_.data(), &work);
    }
  }
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  second.join();
  if (dst_->Stopped()) return JpegSplitOutcome::kStopped;
  *handedOn = handedOn_;
  if (!ok) return JpegSplitOutcome::kNotTaken;
  imagesInBands.fetch_add(1, std::memory_order_relaxed);
  return JpegSplitOutcome::kDecoded;
}

}  // namespace

JpegSplitOutcome DecodeJpegBands(const JpegBytes& file, const JpegDecodeOptions& options,
                                 RowBand* dst, int64_t* handedOn) {
  *handedOn = 0;
  if (options.threads < 2) return JpegSplitOutcome::kNotTaken;
  JpegRestartMap map;
  if (!MapJpegRestarts(file, &map)) return JpegSplitOutcome::kNotTaken;
  BandRun run(map, file, options, dst);
  if (run.Bands() < 2) return JpegSplitOutcome::kNotTaken;
  return run.Run(handedOn);
}

int64_t SetJpegBandBytes(int64_t bytes) {
  return bandBytes.exchange(bytes, std::memory_order_relaxed);
}

int64_t JpegImagesDecodedInBands() {
  return imagesInBands.load(std::memory_order_relaxed);
}
