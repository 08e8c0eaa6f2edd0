// One-dimensional fixed-point filter tables: per output sample the first
// source sample, the number of taps and their 16-bit weights (sum 16384).
//
// An entry is (maximum taps + 3) 16-bit words: start's high half (signed),
// start's low half (unsigned), count, then the weights. Entries are
// contiguous, one per output sample.
#pragma once

#include <cstdint>

#include "resample/kernels.h"

// A count word holds at most this many taps.
constexpr int64_t kMaxFilterTaps = 32767;

constexpr int64_t FilterEntryWords(int32_t maxTaps) {
  return int64_t(maxTaps) + 3;
}
constexpr int64_t FilterTableBytes(int32_t outputCount, int32_t maxTaps) {
  return int64_t(outputCount) * FilterEntryWords(maxTaps) * 2;
}

inline int32_t EntryStart(const int16_t* entry) {
  return int32_t(uint32_t(uint16_t(entry[0])) << 16 | uint16_t(entry[1]));
}
inline int32_t EntryCount(const int16_t* entry) {
  return entry[2];
}
inline const int16_t* EntryWeights(const int16_t* entry) {
  return entry + 3;
}
inline int16_t* EntryWeights(int16_t* entry) {
  return entry + 3;
}
inline void SetEntryStart(int16_t* entry, int32_t start) {
  entry[0] = int16_t(uint16_t(uint32_t(start) >> 16));
  entry[1] = int16_t(uint16_t(uint32_t(start) & 0xFFFF));
}
inline void SetEntryCount(int16_t* entry, int32_t count) {
  entry[2] = int16_t(count);
}

// v + 0.5 (v ≥ 0) or v - 0.5 (v < 0), truncated toward zero.
int32_t RoundHalfAway(double v);

// Adds r to the largest weights of w[0 … n-1], centred on their first run.
void SpreadRemainder(int16_t* weights, int32_t n, int32_t r);

// Default edges: merges the taps outside [0, sourceLength) into the border
// sample, with 16-bit additions.
void FoldEdges(int16_t* table, int32_t maxTaps, int32_t outputCount, int32_t sourceLength);

// Drops zero weights at both ends of every entry; a vertical entry keeps
// leading zeros where dropping them would move its start past the next one's.
void TrimZeroTaps(int16_t* table, int32_t outputCount, int32_t maxTaps, bool vertical);

// The taps of the output sample at source position x: the first tap's
// source index and kernel position (in (-radius, -radius + m]) and the number
// of taps strictly inside (-radius, radius).
struct TapRun {
  int64_t start;
  double offset;
  int64_t count;
};
TapRun LocateTaps(double x, double radius, double m, double inverseM);

// The largest tap count of a table with these positions. Rounding can put
// taps at both ends of the support, one more than ceil(2·radius / m).
int64_t CountMaxTaps(double radius, int32_t outputCount, double x0, double dx, double m);

// Fills the table for outputCount samples, output sample i lying at source
// position x0 + i·dx (accumulated); m is the source sample spacing in kernel
// units. mode & 7 == 0 folds the edges, mode & 8 marks the vertical table.
// scratch holds at least maxTaps doubles.
void BuildFilterTable(KernelEvaluator evaluator, double radius, const KernelParams& params,
                      int32_t mode, int32_t maxTaps, int32_t outputCount, int32_t sourceLength,
                      double x0, double dx, double m, double* scratch, int16_t* table);
