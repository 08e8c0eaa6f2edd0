#include "pipeline/size_proxy.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "imageio/export.h"
#include "platform/quality.h"

namespace {

// Bands of 16 rows (a whole number of blocks in every codec), one in each
// 128, taken from the middle of its stretch.
constexpr int32_t kBandRows = 16;
constexpr int32_t kStretch = 128;
constexpr int32_t kLeastBands = 4;
// How fast log bytes grow per percent in a usual photo, for the second
// step when only one size is known.
constexpr double kUsualLogSlope = 0.012;
constexpr int32_t kFirstBandPercent = 60;
// How far, in log bytes, the bands alone misjudge the whole file's size:
// the seams between bands cost bytes the picture does not have.
constexpr double kUnscaledSpread = 0.05;
// Secant steps before bisections come in between.
constexpr int32_t kSecantSteps = 4;

}  // namespace

bool SizeProxy::Make(GWorldPtr picture, const ExportSettings& settings,
                     std::function<int32_t(int32_t)> sameFileTop, BandReading reading) {
  const PixelView from = PixelViewOf(picture);
  const int32_t bands = from.height / kStretch;
  if (bands < kLeastBands) return false;
  Rect bounds;
  MacSetRect(&bounds, 0, 0, from.width, bands * kBandRows);
  GWorldPtr made = nullptr;
  if (QTNewGWorld(&made, from.pixelFormat, &bounds, nullptr, nullptr, kNativeEndianPixMap) !=
      noErr) {
    return false;
  }
  bands_.reset(made);
  const PixelView to = PixelViewOf(made);
  const size_t rowBytes = size_t(from.width) * size_t(from.pixelSize / 8);
  for (int32_t band = 0; band < bands; ++band) {
    const int32_t top = band * kStretch + (kStretch - kBandRows) / 2;
    for (int32_t y = 0; y < kBandRows; ++y) {
      std::memcpy(to.base + int64_t(band * kBandRows + y) * to.rowBytes,
                  from.base + int64_t(top + y) * from.rowBytes, rowBytes);
    }
  }
  settings_ = settings;
  sameFileTop_ = std::move(sameFileTop);
  reading_ = reading;
  logRowRatio_ = std::log(double(from.height) / double(bands * kBandRows));
  return true;
}

bool SizeProxy::LogBytes(int32_t percent, double* logBytes) {
  const auto known = sizes_.find(percent);
  if (known != sizes_.end()) {
    *logBytes = known->second;
    return true;
  }
  ExportSettings at = settings_;
  at.quality = QualityOfWholePercent(percent);
  std::vector<uint8_t> bytes;
  ++encodes_;
  if (EncodeImage(bands_.get(), at, nullptr, &bytes) != noErr) return false;
  *logBytes = std::log(double(std::max<size_t>(bytes.size(), 1)));
  const PercentRun run = RunOfPercent(sameFileTop_, percent);
  for (int32_t p = run.first; p <= run.last; ++p) sizes_[p] = *logBytes;
  return true;
}

// log(whole file / bands' file), from the whole trials at the bracket's
// ends (their mean), else from the rows alone.
double SizeProxy::LogScale(int32_t lo, int32_t hi, const std::vector<TriedPercent>& tried) {
  double sum = 0;
  int32_t count = 0;
  for (const int32_t end : {lo, hi}) {
    const auto t = std::find_if(tried.begin(), tried.end(),
                                [&](const TriedPercent& x) { return x.percent == end; });
    double bandsLog = 0;
    if (t == tried.end() || !LogBytes(end, &bandsLog)) continue;
    sum += t->measure - bandsLog;
    ++count;
  }
  return count > 0 ? sum / count : logRowRatio_;
}

Foresight SizeProxy::Predict(int32_t lo, int32_t hi, const std::vector<TriedPercent>& tried,
                             uint64_t budget, bool hedge) {
  const double target = std::log(double(budget) + 0.5) - LogScale(lo, hi, tried);
  Foresight f;
  if (!tried.empty()) {
    f.at = LastFitting(lo, hi, target, false);
  } else if (hedge) {
    // Unscaled, the bands overstate the file by up to kUnscaledSpread:
    // a pair spans that.
    f.at = LastFitting(lo, hi, target, false);
    if (f.at >= 0) f.other = LastFitting(lo, hi, target + kUnscaledSpread, false);
  } else {
    // A trial alone ends the search in two when the answer is it or the
    // setting beneath it: the percent nearest the boundary.
    f.at = LastFitting(lo, hi, target + reading_.overstatement, true);
  }
  return f;
}

// The highest percent in lo + 1 ... hi - 1 whose bands' log size is at
// most target (lo when none is); with nearest, the percent nearest where
// the bands reach target, which may be the first over it. -1 when an
// encode fails.
int32_t SizeProxy::LastFitting(int32_t lo, int32_t hi, double target, bool nearest) {
  // Secant steps, every other one a bisection after the first few, so
  // that a curve the line misjudges still closes: a fits, b does not.
  int32_t a = lo, b = hi;
  for (int32_t step = 0; b - a > 1; ++step) {
    if (b - a <= reading_.lineWithin && sizes_.count(a) != 0 && sizes_.count(b) != 0) break;
    const bool halve = step >= kSecantSteps && step % 2 == 1;
    const int32_t p = std::clamp(halve ? a + (b - a) / 2 : SecantStep(a, b, target), a + 1, b - 1);
    double logBytes = 0;
    if (!LogBytes(p, &logBytes)) return -1;
    const PercentRun run = RunOfPercent(sameFileTop_, p);
    if (logBytes <= target) {
      a = std::min(run.last, b - 1);
    } else {
      b = std::max(run.first, a + 1);
    }
  }
  const auto va = sizes_.find(a), vb = sizes_.find(b);
  if (va == sizes_.end() || vb == sizes_.end() || vb->second <= va->second) return a;
  // Where the line between a and b reaches target, in percents past a.
  const double past = (target - va->second) * double(b - a) / (vb->second - va->second);
  const int32_t at = a + int32_t(nearest ? std::lround(past) : std::floor(past));
  return std::clamp(at, a, nearest ? b : b - 1);
}

// Where log bytes reach target: on the line through the known sizes at a
// and b, else through the two known nearest a or b, else from a usual
// slope, else the usual first percent.
int32_t SizeProxy::SecantStep(int32_t a, int32_t b, double target) const {
  const auto va = sizes_.find(a), vb = sizes_.find(b);
  const auto line = [&](int32_t p, double vp, int32_t q, double vq) {
    const double slope = q != p && vq != vp ? (vq - vp) / (q - p) : 0;
    return int32_t(std::floor(p + (target - vp) / (slope > 0 ? slope : kUsualLogSlope)));
  };
  if (va != sizes_.end() && vb != sizes_.end()) {
    return line(a, va->second, b, vb->second);
  }
  if (sizes_.empty()) return kFirstBandPercent;
  // The known size nearest the open stretch, and the next one beyond it
  // with another size.
  auto k = va != sizes_.end() ? va : vb != sizes_.end() ? vb : sizes_.lower_bound(a);
  if (k == sizes_.end()) k = std::prev(sizes_.end());
  const bool below = k->first <= a;
  auto other = k;
  while (true) {
    if (below ? other == sizes_.begin() : std::next(other) == sizes_.end()) break;
    other = below ? std::prev(other) : std::next(other);
    if (other->second != k->second) break;
  }
  return line(k->first, k->second, other->first, other->second);
}
