#include "pipeline/quality_search.h"

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

#include "base/start_thread.h"

namespace {

constexpr int32_t kLowest = 1;
constexpr int32_t kHighest = 100;
// The first round's percents: a usual web quality and a low one.
constexpr int32_t kFirstProbes[2] = {30, 75};

struct Tried {
  int32_t percent;
  double measure;
  bool below;
};

// The boundary so far: lo the highest percent known below (kLowest - 1
// when none), hi the lowest known above (kHighest + 1 when none).
struct Bracket {
  int32_t lo = kLowest - 1;
  int32_t hi = kHighest + 1;
  int32_t Open() const { return hi - lo - 1; }
};

// The lowest percent tried above bounds the boundary; below it, the
// highest tried below. Trials out of the order assumed (a higher percent
// below, over a lower one above) thus never make the answer one untried.
Bracket BracketOf(const std::vector<Tried>& tried) {
  Bracket b;
  for (const Tried& t : tried) {
    if (!t.below) b.hi = std::min(b.hi, t.percent);
  }
  for (const Tried& t : tried) {
    if (t.below && t.percent < b.hi) b.lo = std::max(b.lo, t.percent);
  }
  return b;
}

// Where the measure reaches target, by a line through the two tried
// percents nearest the bracket (one on each side when there are both).
double GuessBoundary(const std::vector<Tried>& tried, const Bracket& b, double target) {
  std::vector<Tried> near = tried;
  std::sort(near.begin(), near.end(), [&](const Tried& x, const Tried& y) {
    const auto distance = [&](const Tried& t) {
      return t.percent <= b.lo ? b.lo - t.percent : t.percent - b.hi;
    };
    return distance(x) != distance(y) ? distance(x) < distance(y) : x.percent < y.percent;
  });
  const Tried& p = near[0];
  const Tried& q = near[1];
  if (p.measure == q.measure) return double(b.lo + b.hi) / 2;
  return p.percent + (target - p.measure) * double(q.percent - p.percent) / (q.measure - p.measure);
}

// The next two percents to try, inside the bracket (one when only one is left).
std::vector<int32_t> NextProbes(const std::vector<Tried>& tried, const Bracket& b, double target,
                                bool guess) {
  const int32_t open = b.Open();
  if (open <= 2) {
    std::vector<int32_t> all;
    for (int32_t p = b.lo + 1; p < b.hi; ++p) all.push_back(p);
    return all;
  }
  if (!guess || tried.size() < 2) {
    return {b.lo + (open + 1) / 3, b.lo + (2 * open + 2) / 3};
  }
  const double at = GuessBoundary(tried, b, target);
  // One each side of the guess: when it is within one, the next round
  // tries what is left between them and ends.
  const double floorAt = std::isfinite(at) ? std::floor(at) : double(b.lo + 2);
  const int32_t middle = int32_t(std::clamp(floorAt, double(b.lo + 2), double(b.hi - 2)));
  return {middle - 1, middle + 1};
}

}  // namespace

int32_t HighestBelow(const TrialFunction& trial, double target, bool parallel, OSErr* err) {
  *err = noErr;
  std::vector<Tried> tried;
  Bracket bracket;
  std::vector<int32_t> probes(std::begin(kFirstProbes), std::end(kFirstProbes));
  bool guess = true;
  while (!probes.empty()) {
    std::vector<SearchTrial> results(probes.size());
    std::thread side;
    const bool beside = parallel && probes.size() == 2 &&
                        StartThread(&side, [&] { results[1] = trial(probes[1]); });
    results[0] = trial(probes[0]);
    if (beside) side.join();
    if (!beside && probes.size() == 2) results[1] = trial(probes[1]);
    const int32_t openBefore = bracket.Open();
    for (size_t i = 0; i < probes.size(); ++i) {
      if (results[i].err != noErr) {
        *err = results[i].err;
        return 0;
      }
      tried.push_back({probes[i], results[i].measure, results[i].below});
    }
    bracket = BracketOf(tried);
    // A guess that left most of the bracket open is not trusted next time.
    guess = 5 * bracket.Open() <= 4 * openBefore;
    probes = NextProbes(tried, bracket, target, guess);
  }
  return bracket.lo;
}
