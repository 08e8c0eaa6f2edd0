#include "pipeline/goal_export.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "codecs/common/row_packer.h"
#include "codecs/heif/avif_quality.h"
#include "imageio/export.h"
#include "imageio/import.h"
#include "pipeline/gain_map.h"
#include "pipeline/size_proxy.h"
#include "pipeline/ssim.h"
#include "platform/owned.h"
#include "platform/quality.h"

namespace {

// The best trial so far on the goal's side of the boundary, whose bytes
// may become the file.
struct Kept {
  std::mutex lock;
  int32_t percent = 0;
  std::vector<uint8_t> bytes;
  double score = -1;
  std::atomic<int32_t> trials{0};
  int32_t bandTrials = 0;

  // better(p, percent): whether p is nearer the boundary than the kept one.
  template <class Better>
  void Offer(int32_t p, std::vector<uint8_t>* encoded, double s, Better better) {
    std::lock_guard<std::mutex> hold(lock);
    if (percent != 0 && !better(p, percent)) return;
    percent = p;
    bytes = std::move(*encoded);
    score = s;
  }
};

ExportSettings AtPercent(const ExportSettings& settings, int32_t percent) {
  ExportSettings at = settings;
  at.quality = QualityOfWholePercent(percent);
  return at;
}

// The file a plain export at settings writes, into bytes: the metadata is
// a copy, its gain map fitted at that quality.
OSErr EncodeWhole(GWorldPtr picture, const ResizeRequest& request, const ExportSettings& settings,
                  UserData ud, std::vector<uint8_t>* bytes) {
  UniqueUserData copy;
  if (ud != nullptr) {
    UserData made = nullptr;
    if (const OSErr err = CopyUserData(ud, &made)) return err;
    copy.reset(made);
    FitGainMap(copy.get(), request, settings);
  }
  return OSErr(EncodeImage(picture, settings, copy.get(), bytes));
}

// What a trial's decode is compared with: the finished pixels, and for a
// grey output, or one whose codec decodes to 8 bits only, those pixels as
// the encoder packs them (codecs/common/row_packer.h) in 32-bit ARGB.
struct Reference {
  GWorldPtr picture = nullptr;
  bool grey = false;
  UniqueGWorld eightBit;
};

// The picture packed as an 8-bit encoder takes it, grey or colour, in
// opaque 32-bit ARGB words.
OSErr PackEightBit(GWorldPtr picture, bool grey, UniqueGWorld* packed) {
  const PixelView from = PixelViewOf(picture);
  Rect bounds;
  MacSetRect(&bounds, 0, 0, from.width, from.height);
  GWorldPtr made = nullptr;
  if (const OSErr err = OSErr(
          QTNewGWorld(&made, k32ARGBPixelFormat, &bounds, nullptr, nullptr, kNativeEndianPixMap))) {
    return err;
  }
  packed->reset(made);
  const PixelView to = PixelViewOf(made);
  RowBand rows;
  rows.AttachWhole(from, true);
  RowPacker packer;
  const RowLayout layout = grey ? RowLayout::kGrey8 : RowLayout::kRGB8;
  if (const OSErr err = packer.Prepare(rows, layout)) return err;
  std::vector<uint8_t> row(size_t(from.width) * size_t(BytesPerPixel(layout)));
  for (int32_t y = 0; y < from.height; ++y) {
    if (const OSErr err = packer.Pack(y, row.data())) return err;
    uint8_t* out = to.base + int64_t(y) * to.rowBytes;
    for (int32_t x = 0; x < from.width; ++x, out += 4) {
      const uint8_t* p = grey ? &row[size_t(x)] : &row[3 * size_t(x)];
      const uint32_t r = p[0], g = grey ? p[0] : p[1], b = grey ? p[0] : p[2];
      const uint32_t word = 0xFF000000u | r << 16 | g << 8 | b;
      std::memcpy(out, &word, 4);
    }
  }
  return noErr;
}

OSErr ReferenceFor(GWorldPtr picture, const ExportSettings& settings, Reference* reference) {
  reference->picture = picture;
  reference->grey = ChannelsForDepth(settings.depth) == ExportChannels::kGrey;
  const bool wide = PixelViewOf(picture).pixelFormat != k32ARGBPixelFormat;
  if (!reference->grey && !wide) return noErr;
  return PackEightBit(picture, reference->grey, &reference->eightBit);
}

// The picture alone encoded at settings, decoded, compared with what it
// was encoded from: in the picture's own format where the codec decodes to
// it, else in 8 bits.
OSErr EncodeAndScore(const Reference& reference, const ExportSettings& settings,
                     std::vector<uint8_t>* bytes, double* score) {
  if (const OSErr err = OSErr(EncodeImage(reference.picture, settings, nullptr, bytes))) return err;
  PixelView kept = PixelViewOf(reference.picture);
  GWorldPtr decoded = nullptr;
  OSErr err =
      reference.grey ? cDepthErr : OSErr(DrawEncodedImage(*bytes, kept.pixelFormat, &decoded));
  if (err == cDepthErr && reference.eightBit != nullptr) {
    kept = PixelViewOf(reference.eightBit.get());
    err = OSErr(DrawEncodedImage(*bytes, kept.pixelFormat, &decoded));
  }
  if (err != noErr) return err;
  *score = StructuralSimilarity(kept, PixelViewOf(decoded));
  DisposeGWorld(decoded);
  return noErr;
}

// The codec's own code, whichever spelling chose it ("avif", "AVIF").
OSType CodecOf(const ExportSettings& settings) {
  const ImageFormat* format = ExportFormat(settings.codec);
  return format != nullptr ? format->subtype : settings.codec;
}

// Encoders that spread one picture over threads of their own (libaom,
// x265, libjxl's runner): two trials side by side gain little over one.
bool EncoderUsesEveryCore(OSType codec) {
  return codec == FourCC("AVIF") || codec == FourCC("HEIC") || codec == FourCC("JXL ");
}

// Runs of percents that make one file, where the codec has them.
SearchHints HintsFor(const ExportSettings& settings) {
  SearchHints hints;
  if (CodecOf(settings) == FourCC("AVIF")) hints.sameFileTop = AvifLastPercentOfSameFile;
  return hints;
}

// How far the bands of a codec's file usually overstate it (its seams
// between bands: libjxl's groups and filters pay most), and how near two
// band sizes must be for the line between them to stand for more encodes
// (libjxl's sizes run straight over a few percents).
BandReading BandReadingFor(const ExportSettings& settings) {
  const OSType codec = CodecOf(settings);
  if (codec == FourCC("JXL ")) return {0.10, 4};
  if (codec == FourCC("AVIF")) return {0.05, 1};
  return {0.025, 1};
}

// The measure the search interpolates on: roughly straight in the percent.
double ScoreMeasure(double score) {
  return -std::log(std::max(1 - score, 1e-9));
}

int32_t SearchBytes(GWorldPtr picture, const ResizeRequest& request, const ExportSettings& settings,
                    uint64_t maxBytes, UserData ud, bool parallel, const Deadline& deadline,
                    Kept* kept) {
  SearchHints hints = HintsFor(settings);
  const TrialFunction trial = [&](int32_t percent) {
    std::vector<uint8_t> bytes;
    SearchTrial t;
    if (deadline.Passed()) {
      t.err = kTimedOutErr;
      return t;
    }
    ++kept->trials;
    t.err = EncodeWhole(picture, request, AtPercent(settings, percent), ud, &bytes);
    t.below = bytes.size() <= maxBytes;
    t.measure = std::log(double(std::max<size_t>(bytes.size(), 1)));
    if (t.err == noErr && t.below) {
      // The highest percent of the run that makes this file.
      const int32_t last = RunOfPercent(hints.sameFileTop, percent).last;
      kept->Offer(last, &bytes, -1, [](int32_t p, int32_t than) { return p > than; });
    }
    return t;
  };
  SizeProxy proxy;
  if (proxy.Make(picture, settings, hints.sameFileTop, BandReadingFor(settings))) {
    hints.oneAtATime = EncoderUsesEveryCore(CodecOf(settings));
    hints.predict = [&](int32_t lo, int32_t hi, const std::vector<TriedPercent>& tried) {
      // Past the deadline the next trial fails at once: no bands for it.
      if (deadline.Passed()) return Foresight{};
      return proxy.Predict(lo, hi, tried, maxBytes, !hints.oneAtATime);
    };
  }
  OSErr err = noErr;
  const int32_t found =
      HighestBelow(trial, std::log(double(maxBytes) + 0.5), hints, parallel, &err);
  kept->bandTrials = proxy.encodes();
  if (err != noErr) return err;
  return found == 0 ? kBytesGoalMissedErr : noErr;
}

int32_t SearchScore(GWorldPtr picture, const ExportSettings& settings, double goal, bool parallel,
                    const Deadline& deadline, Kept* kept) {
  Reference reference;
  if (const OSErr err = ReferenceFor(picture, settings, &reference)) return err;
  const SearchHints hints = HintsFor(settings);
  const TrialFunction trial = [&](int32_t percent) {
    std::vector<uint8_t> bytes;
    double score = 0;
    SearchTrial t;
    if (deadline.Passed()) {
      t.err = kTimedOutErr;
      return t;
    }
    ++kept->trials;
    t.err = EncodeAndScore(reference, AtPercent(settings, percent), &bytes, &score);
    t.below = score < goal;
    t.measure = ScoreMeasure(score);
    if (t.err == noErr && !t.below) {
      // The lowest percent of the run that makes this file.
      const int32_t first = RunOfPercent(hints.sameFileTop, percent).first;
      kept->Offer(first, &bytes, score, [](int32_t p, int32_t than) { return p < than; });
    }
    return t;
  };
  OSErr err = noErr;
  const int32_t found = HighestBelow(trial, ScoreMeasure(goal), hints, parallel, &err);
  if (err != noErr) return err;
  return found == 100 ? kScoreGoalMissedErr : noErr;
}

}  // namespace

int32_t ExportForGoal(GWorldPtr picture, const ResizeRequest& request,
                      const ExportSettings& settings, const QualityGoal& goal, UserData ud,
                      const std::string& outputPath, bool parallel, const Deadline& deadline,
                      QualityChoice* chosen) {
  Kept kept;
  const bool bytesGoal = goal.kind == QualityGoalKind::kMaxBytes;
  const int32_t searched =
      bytesGoal
          ? SearchBytes(picture, request, settings, goal.maxBytes, ud, parallel, deadline, &kept)
          : SearchScore(picture, settings, goal.score, parallel, deadline, &kept);
  chosen->trials = kept.trials.load();
  chosen->bandTrials = kept.bandTrials;
  if (searched != noErr) return searched;
  const ExportSettings at = AtPercent(settings, kept.percent);
  chosen->percent = kept.percent;
  chosen->score = kept.score;
  if (ud != nullptr) FitGainMap(ud, request, at);
  if (!bytesGoal && ud != nullptr) {
    if (const int32_t err = EncodeImage(picture, at, ud, &kept.bytes)) return err;
  }
  chosen->bytes = kept.bytes.size();
  return WriteEncodedFile(outputPath, kept.bytes);
}
