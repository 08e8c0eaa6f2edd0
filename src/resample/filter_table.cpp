#include "resample/filter_table.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>

#include "resample/resample.h"

namespace {

// Sum of weights w[from … to-1] in 16-bit arithmetic.
int16_t SumWeights16(const int16_t* w, int32_t from, int32_t to) {
  int16_t sum = 0;
  for (int32_t k = from; k < to; ++k) sum = int16_t(sum + w[k]);
  return sum;
}

// The taps of an entry that lies wholly outside the source all land on one
// border sample.
void MergeIntoOneTap(int16_t* entry, int32_t start) {
  int16_t* w = EntryWeights(entry);
  w[0] = SumWeights16(w, 0, EntryCount(entry));
  SetEntryStart(entry, start);
  SetEntryCount(entry, 1);
}

void FoldFront(int16_t* entry) {
  const int32_t lead = -EntryStart(entry);
  const int32_t count = EntryCount(entry);
  const int32_t kept = std::max(count - lead, 0);
  if (kept == 0) {
    MergeIntoOneTap(entry, 0);
    return;
  }
  int16_t* w = EntryWeights(entry);
  w[lead] = int16_t(w[lead] + SumWeights16(w, 0, lead));
  std::memmove(w, w + lead, size_t(kept) * sizeof(int16_t));
  SetEntryStart(entry, 0);
  SetEntryCount(entry, kept);
}

void FoldBack(int16_t* entry, int32_t sourceLength) {
  const int32_t count = EntryCount(entry);
  const int32_t excess = EntryStart(entry) + count - sourceLength;
  const int32_t kept = std::max(count - excess, 0);
  if (kept == 0) {
    MergeIntoOneTap(entry, sourceLength - 1);
    return;
  }
  int16_t* w = EntryWeights(entry);
  w[kept - 1] = int16_t(w[kept - 1] + SumWeights16(w, kept, count));
  SetEntryCount(entry, kept);
}

}  // namespace

int32_t RoundHalfAway(double v) {
  return v >= 0.0 ? int32_t(v + 0.5) : int32_t(v - 0.5);
}

void SpreadRemainder(int16_t* weights, int32_t n, int32_t r) {
  if (n <= 0) return;
  int32_t best = -kWeightOne;
  int32_t first = 0;
  int32_t ties = 0;
  for (int32_t k = 0; k < n; ++k) {
    if (weights[k] > best) {
      best = weights[k];
      first = k;
      ties = 1;
    } else if (weights[k] == best) {
      ++ties;
    }
  }
  if (ties == 0) return;
  const int32_t q = r / ties;
  if (q != 0) {
    for (int32_t k = first; k < first + ties; ++k) weights[k] = int16_t(weights[k] + q);
    r -= q * ties;
  }
  weights[first + ties / 2] = int16_t(weights[first + ties / 2] + r);
}

void FoldEdges(int16_t* table, int32_t maxTaps, int32_t outputCount, int32_t sourceLength) {
  const int64_t words = FilterEntryWords(maxTaps);
  for (int32_t i = 0; i < outputCount; ++i) {
    int16_t* entry = table + i * words;
    if (EntryStart(entry) >= 0) break;
    FoldFront(entry);
  }
  for (int32_t i = outputCount - 1; i >= 0; --i) {
    int16_t* entry = table + i * words;
    if (EntryStart(entry) + EntryCount(entry) - sourceLength <= 0) break;
    FoldBack(entry, sourceLength);
  }
}

void TrimZeroTaps(int16_t* table, int32_t outputCount, int32_t maxTaps, bool vertical) {
  const int64_t words = FilterEntryWords(maxTaps);
  int64_t prev = INT32_MAX;
  for (int32_t i = outputCount - 1; i >= 0; --i) {
    int16_t* entry = table + i * words;
    int16_t* w = EntryWeights(entry);
    int32_t count = EntryCount(entry);
    int32_t start = EntryStart(entry);
    while (count > 0 && w[count - 1] == 0) --count;
    int32_t lead = 0;
    while (lead < count && w[lead] == 0) ++lead;
    if (vertical && start + lead > prev) lead = int32_t(prev - start);
    if (lead > 0) {
      count -= lead;
      std::memmove(w, w + lead, size_t(count) * sizeof(int16_t));
      start += lead;
    }
    SetEntryCount(entry, count);
    SetEntryStart(entry, start);
    prev = start;
  }
}

TapRun LocateTaps(double x, double radius, double m, double inv) {
  const int64_t f = int64_t(std::floor(x));
  double o = (double(f) - x) * m;  // kernel position of source sample f
  int64_t t = int64_t(std::trunc((radius + o) * inv));
  o = o - double(t) * m;
  if (o <= -radius) {
    o = o + m;
    t = t - 1;
  }
  int64_t n = int64_t(std::trunc((radius - o) * inv));
  if (o + double(n) * m < radius) n = n + 1;
  return TapRun{f - t, o, n};
}

int64_t CountMaxTaps(double radius, int32_t outputCount, double x0, double dx, double m) {
  const double inv = 1.0 / m;
  int64_t most = 0;
  double x = x0;
  for (int32_t i = 0; i < outputCount; ++i) {
    most = std::max(most, LocateTaps(x, radius, m, inv).count);
    x = x + dx;
  }
  return most;
}

void BuildFilterTable(KernelEvaluator evaluator, double radius, const KernelParams& params,
                      int32_t mode, int32_t maxTaps, int32_t outputCount, int32_t sourceLength,
                      double x0, double dx, double m, double* scratch, int16_t* table) {
  const int64_t words = FilterEntryWords(maxTaps);
  const double inv = 1.0 / m;
  double x = x0;
  for (int32_t i = 0; i < outputCount; ++i) {
    int16_t* entry = table + i * words;
    int16_t* w = EntryWeights(entry);
    const TapRun run = LocateTaps(x, radius, m, inv);
    assert(run.count >= 1 && run.count <= maxTaps);
    const int64_t n = std::clamp<int64_t>(run.count, 0, maxTaps);  // the entry holds no more
    const double sum = evaluator(params, int32_t(n), run.offset, m, scratch);
    const double norm = double(kWeightOne) / sum;
    int32_t total = 0;
    for (int64_t k = 0; k < n; ++k) {
      w[k] = int16_t(RoundHalfAway(scratch[k] * norm));
      total += w[k];
    }
    for (int64_t k = n; k < maxTaps; ++k) w[k] = 0;
    if (total != kWeightOne) SpreadRemainder(w, int32_t(n), kWeightOne - total);
    SetEntryStart(entry, int32_t(run.start));
    SetEntryCount(entry, int32_t(n));
    x = x + dx;
  }
  if ((mode & kEdgeTreatmentMask) == kEdgeDefault) {
    FoldEdges(table, maxTaps, outputCount, sourceLength);
  }
  TrimZeroTaps(table, outputCount, maxTaps, (mode & kEdgeVertical) != 0);
}
