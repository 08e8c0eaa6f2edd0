#include "pipeline/quality_search.h"

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

#include "base/start_thread.h"

namespace {

constexpr int32_t kLowest = 1;
constexpr int32_t kHighest = 100;
// The first round's percents without a prediction: a usual web quality
// and a low one.
constexpr int32_t kFirstProbes[2] = {30, 75};
// Rounds the foresight chooses; later ones draw a line through the
// whole trials, which by then lie close around the boundary.
constexpr int32_t kForeseenInARow = 2;
constexpr int32_t kForeseenOneAtATime = 4;

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
Bracket BracketOf(const std::vector<TriedPercent>& tried) {
  Bracket b;
  for (const TriedPercent& t : tried) {
    if (!t.below) b.hi = std::min(b.hi, t.percent);
  }
  for (const TriedPercent& t : tried) {
    if (t.below && t.percent < b.hi) b.lo = std::max(b.lo, t.percent);
  }
  return b;
}

PercentRun RunOf(const SearchHints& hints, int32_t p) {
  return RunOfPercent(hints.sameFileTop, p);
}

// Where the measure reaches target, by a line through the two tried
// percents nearest the bracket (one on each side when there are both).
double GuessBoundary(const std::vector<TriedPercent>& tried, const Bracket& b, double target) {
  std::vector<TriedPercent> near = tried;
  std::sort(near.begin(), near.end(), [&](const TriedPercent& x, const TriedPercent& y) {
    const auto distance = [&](const TriedPercent& t) {
      return t.percent <= b.lo ? b.lo - t.percent : t.percent - b.hi;
    };
    return distance(x) != distance(y) ? distance(x) < distance(y) : x.percent < y.percent;
  });
  // Percents of one run share a measure: the line needs two files.
  const TriedPercent& p = near[0];
  const auto other = std::find_if(near.begin(), near.end(),
                                  [&](const TriedPercent& t) { return t.measure != p.measure; });
  if (other == near.end()) return double(b.lo + b.hi) / 2;
  const TriedPercent& q = *other;
  return p.percent + (target - p.measure) * double(q.percent - p.percent) / (q.measure - p.measure);
}

std::vector<int32_t> Thirds(const Bracket& b) {
  const int32_t open = b.Open();
  return {b.lo + (open + 1) / 3, b.lo + (2 * open + 2) / 3};
}

// The foreseen last percent below first, then the first above it, or the
// other foreseen; when the foresight is the bracket's top, the run beneath
// it. One at a time, the foreseen percent alone.
std::vector<int32_t> Foreseen(const SearchHints& hints, const Bracket& b, const Foresight& f) {
  const PercentRun run = RunOf(hints, std::clamp(f.at, b.lo + 1, b.hi - 1));
  if (hints.oneAtATime) return {run.last};
  if (f.other > b.lo && f.other < b.hi) {
    const int32_t other = RunOf(hints, f.other).last;
    if (other != run.last) return {run.last, other};
  }
  if (run.last + 1 < b.hi) return {run.last, run.last + 1};
  if (run.first - 1 > b.lo) return {run.last, run.first - 1};
  return {run.last};
}

// The next percents to try, inside the bracket; none once it is closed.
// foreseenInARow counts the rounds the foresight chose.
std::vector<int32_t> NextProbes(const SearchHints& hints, const std::vector<TriedPercent>& tried,
                                const Bracket& b, double target, bool guess,
                                int32_t* foreseenInARow) {
  const int32_t open = b.Open();
  if (open <= 2) {
    std::vector<int32_t> all;
    for (int32_t p = b.lo + 1; p < b.hi; p = RunOf(hints, p).last + 1) all.push_back(p);
    return all;
  }
  if (hints.predict) {
    // One trial a round seldom closes a fifth: the foresight keeps its turns.
    const int32_t turns = hints.oneAtATime ? kForeseenOneAtATime : kForeseenInARow;
    Foresight f;
    if (*foreseenInARow < turns && (guess || hints.oneAtATime)) {
      f = hints.predict(b.lo, b.hi, tried);
    } else if (guess) {
      const double line = GuessBoundary(tried, b, target);
      if (std::isfinite(line)) f.at = int32_t(std::clamp(std::floor(line), 0.0, 101.0));
    }
    if (f.at < 0) return Thirds(b);
    ++*foreseenInARow;
    return Foreseen(hints, b, f);
  }
  if (!guess || tried.size() < 2) return Thirds(b);
  const double at = GuessBoundary(tried, b, target);
  // One each side of the guess: when it is within one, the next round
  // tries what is left between them and ends.
  const double floorAt = std::isfinite(at) ? std::floor(at) : double(b.lo + 2);
  const int32_t middle = int32_t(std::clamp(floorAt, double(b.lo + 2), double(b.hi - 2)));
  return {middle - 1, middle + 1};
}

// Two probes in one run would make one file twice.
void DropSameFile(const SearchHints& hints, std::vector<int32_t>* probes) {
  if (probes->size() == 2 && RunOf(hints, (*probes)[0]).last == RunOf(hints, (*probes)[1]).last) {
    probes->pop_back();
  }
}

}  // namespace

PercentRun RunOfPercent(const std::function<int32_t(int32_t)>& sameFileTop, int32_t p) {
  if (!sameFileTop) return {p, p};
  const int32_t last = sameFileTop(p);
  int32_t first = p;
  while (first > kLowest && sameFileTop(first - 1) == last) --first;
  return {first, last};
}

int32_t HighestBelow(const TrialFunction& trial, double target, const SearchHints& hints,
                     bool parallel, OSErr* err) {
  *err = noErr;
  std::vector<TriedPercent> tried;
  Bracket bracket;
  int32_t foreseenInARow = 0;
  std::vector<int32_t> probes =
      hints.predict ? NextProbes(hints, tried, bracket, target, true, &foreseenInARow)
                    : std::vector<int32_t>(std::begin(kFirstProbes), std::end(kFirstProbes));
  bool guess = true;
  while (!probes.empty()) {
    DropSameFile(hints, &probes);
    if (hints.oneAtATime) probes.resize(1);
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
      const PercentRun run = RunOf(hints, probes[i]);
      for (int32_t p = run.first; p <= run.last; ++p) {
        tried.push_back({p, results[i].measure, results[i].below});
      }
    }
    bracket = BracketOf(tried);
    // A guess that left most of the bracket open is not trusted next time.
    guess = 5 * bracket.Open() <= 4 * openBefore;
    probes = NextProbes(hints, tried, bracket, target, guess, &foreseenInARow);
  }
  return bracket.lo;
}
