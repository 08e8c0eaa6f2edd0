// A byte budget's cheap foresight: one band of rows in every eight,
// encoded alone at a percent, its size scaled to the whole picture. The
// scale is set again from every whole file tried, so that only the shape
// of size against percent need hold, and the whole trials it chooses
// close on the answer in a round or two. It chooses which percents to
// try; never what is written.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "imageio/export_settings.h"
#include "pipeline/quality_search.h"
#include "platform/owned.h"

// How a codec's bands are read.
//   overstatement: log of how much the bands, scaled by their rows, usually
//     overstate the whole file (the seams between them cost bytes the
//     picture does not have), for a trial aimed before any whole file.
//   lineWithin: once a fitting and an unfitting band encode are at most
//     this many percents apart, the boundary is read off the line between
//     their log sizes instead of closed by more encodes (1: always closed).
struct BandReading {
  double overstatement;
  int32_t lineWithin;
};

class SizeProxy {
 public:
  // False when the picture is too short for bands to pay (then no proxy).
  // sameFileTop as SearchHints has it.
  bool Make(GWorldPtr picture, const ExportSettings& settings,
            std::function<int32_t(int32_t)> sameFileTop, BandReading reading);

  // The percent foreseen as the last whose whole file takes at most budget
  // bytes, within lo + 1 ... hi - 1, from the whole trials so far (their
  // measures are log bytes); before any, with hedge, also the one
  // foreseen for a budget the bands' usual misjudgement larger; without,
  // the percent nearest the boundary as the bands' usual overstatement
  // places it, so that the trial after it can close the search whichever
  // side it falls. at -1 when an encode of the bands fails.
  Foresight Predict(int32_t lo, int32_t hi, const std::vector<TriedPercent>& tried, uint64_t budget,
                    bool hedge);

  int32_t encodes() const { return encodes_; }

 private:
  // log of the bands' file size at percent, encoded once.
  bool LogBytes(int32_t percent, double* logBytes);
  int32_t LastFitting(int32_t lo, int32_t hi, double target, bool nearest);
  int32_t SecantStep(int32_t a, int32_t b, double target) const;
  double LogScale(int32_t lo, int32_t hi, const std::vector<TriedPercent>& tried);

  UniqueGWorld bands_;
  ExportSettings settings_;
  std::function<int32_t(int32_t)> sameFileTop_;
  BandReading reading_{0, 1};
  double logRowRatio_ = 0;
  std::map<int32_t, double> sizes_;
  int32_t encodes_ = 0;
};
