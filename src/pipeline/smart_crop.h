// Where a "//fill" window goes when it is not simply centred: found on a
// small copy of the picture, in integer arithmetic (and doubles only in
// plain scalar code), so that the same picture always gives the same place.
#pragma once

#include <cstdint>
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
