// Encoders whose working memory is many times their picture's (libaom's
// and x265's through libheif: tens of MB at a few megapixels, as the HEIF
// exporter estimates it) take turns across the process, as many at once
// as there are usable cores. That keeps the cores as busy as before, while
// a job writing one picture at several sizes in such a codec holds a few
// of those working memories rather than one for each size. An encoder
// waits with its whole picture already copied from its rows, so that no
// other stage waits on it while it waits.
#pragma once

#include <cstdint>

// Held for the length of one encode: waits for a turn, gives it back at
// the end of its scope.
class HeavyEncoderTurn {
 public:
  HeavyEncoderTurn();
  ~HeavyEncoderTurn();
  HeavyEncoderTurn(const HeavyEncoderTurn&) = delete;
  HeavyEncoderTurn& operator=(const HeavyEncoderTurn&) = delete;
};
