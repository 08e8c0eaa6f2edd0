// Where a "//fill" window goes when it is not simply centred: found on a
// small copy of the picture, in integer arithmetic (and doubles only in
// plain scalar code), so that the same picture always gives the same place.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

// "//crop": the centre of the resize (the default); the most salient spot
// (edges, skin tones, saturated colour); or the window whose trimmed edges
// carry the least information.
enum class CropRule : uint8_t { kCentre, kAttention, kEntropy };

// A small upright copy of the source, 3 bytes (R, G, B) a pixel.
struct SmallPicture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgb;
};

struct WindowPlace {
  int32_t left = 0;
  int32_t top = 0;
};

// The top-left of a windowWidth x windowHeight window (in the picture's
// pixels, at most its size) inside the picture, by the rule; kCentre
// centres it.
WindowPlace PlaceWindow(const SmallPicture& picture, int32_t windowWidth, int32_t windowHeight,
                        CropRule rule);

// Rows of a picture, width x height, each pixel `bytes` long with its R, G
// and B (their high bytes, for 16-bit samples) at offsets, averaged over
// factor x factor blocks, clipped at the right and bottom edges. row(y)
// answers the rows from the top, nullptr once they fail (then false).
struct RowReduction {
  int32_t width = 0;
  int32_t height = 0;
  int32_t factor = 1;
  int32_t bytes = 4;
  int32_t offsets[3] = {1, 2, 3};  // A R G B
};
bool ReduceRows(const RowReduction& reduction, const std::function<const uint8_t*(int32_t)>& row,
                SmallPicture* small);

// The window (windowWidth x windowHeight of a picture of fullWidth x
// fullHeight) placed by the rule on small, a reduced copy of that picture,
// and carried back to the picture's pixels.
WindowPlace PlaceScaledWindow(const SmallPicture& small, int32_t fullWidth, int32_t fullHeight,
                              int32_t windowWidth, int32_t windowHeight, CropRule rule);
