// "//max-bytes" and "//target-quality": a quality found by encoding the
// output's finished pixels again and again, in memory, until the goal's
// boundary is known to one percent. HighestBelow is the search itself,
// over any trial; goal_export.h runs it on an output.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "base/mac_types.h"

enum class QualityGoalKind { kNone, kMaxBytes, kScore };

struct QualityGoal {
  QualityGoalKind kind = QualityGoalKind::kNone;
  uint64_t maxBytes = 0;  // kMaxBytes: the largest file allowed
  double score = 0;       // kScore: the least structural similarity (pipeline/ssim.h)
};

// What a search chose, for the report.
struct QualityChoice {
  int32_t percent = 0;     // as "/q" takes it
  uint64_t bytes = 0;      // the file written
  double score = -1;       // kScore: the similarity reached
  int32_t trials = 0;      // encodes made
  int32_t bandTrials = 0;  // //max-bytes: encodes of the bands that foresee the sizes
};

// No quality meets the goal: even the lowest is over the bytes allowed, or
// even the highest is below the score asked.
constexpr OSErr kBytesGoalMissedErr = -8972;
constexpr OSErr kScoreGoalMissedErr = -8973;

// One trial encode: whether its percent lies below the goal's boundary
// (its file fits the bytes; its score is short of the target), and a
// measure that grows with the percent, compared with the target's to
// guess where the boundary lies.
struct SearchTrial {
  OSErr err = noErr;
  bool below = false;
  double measure = 0;
};
using TrialFunction = std::function<SearchTrial(int32_t percent)>;

// What a search may know beyond its trials; either part may be empty.
//   sameFileTop(p): the highest percent whose file is the very file p's
//     is (the codec maps a run of percents onto one setting), so that one
//     trial answers for the whole run and no two of a run are tried.
//   predict(lo, hi, tried): the percent foreseen as the last below within
//     lo + 1 ... hi - 1, from the trials so far (measures as the trial
//     gave them), and a second one when the foresight is unsure (else
//     -1); at -1 when it cannot tell. The search then tries the two, or
//     the one and the percent above it, which ends the search when the
//     foresight is right.
struct TriedPercent {
  int32_t percent;
  double measure;
  bool below;
};
struct Foresight {
  int32_t at = -1;
  int32_t other = -1;
};
struct SearchHints {
  // With predict: one trial a round, each foreseen from all before it,
  // for encoders that keep every core busy on their own.
  bool oneAtATime = false;
  std::function<int32_t(int32_t percent)> sameFileTop;
  std::function<Foresight(int32_t lo, int32_t hi, const std::vector<TriedPercent>& tried)> predict;
};

// The percents that make p's file, [first, last]: p alone without sameFileTop.
struct PercentRun {
  int32_t first;
  int32_t last;
};
PercentRun RunOfPercent(const std::function<int32_t(int32_t)>& sameFileTop, int32_t p);

// The highest percent from 1 to 100 whose trial is below (0 when none
// is), for trials below up to some percent and above it from there on.
// Each round tries two percents, side by side when parallel allows. With a
// prediction: the foreseen pair for two rounds, then the pair around the
// boundary as the measures place it. Without one: first two fixed
// percents, then the two around the boundary as the measures place it.
// Either way, the thirds of what is left after a round that left four
// fifths of it open. The first failed trial ends the search with its code
// in *err.
int32_t HighestBelow(const TrialFunction& trial, double target, const SearchHints& hints,
                     bool parallel, OSErr* err);
