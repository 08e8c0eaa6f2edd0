// A tiny lossy WebP of a few pixels, for a preview that travels inside a
// line of text rather than beside it as a file.
#pragma once

#include <cstdint>
#include <vector>

// rgba: width x height pixels of 4 bytes, R, G, B, A; with opaque the alpha
// is left out. Empty when the encoder refuses.
std::vector<uint8_t> TinyWebp(const uint8_t* rgba, int32_t width, int32_t height, bool opaque,
                              float quality);
