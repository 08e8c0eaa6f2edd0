// Canvases that the file's own data could never paint. A GIF's logical
// screen and an animated WebP's canvas are two numbers in the header, while
// the first frame drawn on them may be a single pixel: without a limit, a
// file of a few dozen bytes makes us allocate, clear and resize gigabytes
// for minutes. The importers ask here when they read the header, before
// anything is allocated, and answer codecErr for a canvas refused.
#pragma once

#include <cstdint>

// Up to this many pixels (64 MP) any canvas is accepted as it is.
constexpr int64_t kLargeCanvasPixels = int64_t(1) << 26;

// Whether a canvas may be drawn for its first frame: any canvas up to
// kLargeCanvasPixels, a larger one only when the frame covers at least a
// quarter of it.
bool FirstFrameFillsCanvas(int64_t canvasWidth, int64_t canvasHeight, int64_t frameWidth,
                           int64_t frameHeight);

// Whether GIF image data of dataBytes bytes could paint a frame of this many
// pixels (frames up to kLargeCanvasPixels always pass). A 12-bit LZW code
// yields at most 4096 pixels; a w-bit code comes from a table of fewer than
// 2^w entries and yields fewer than 2^w pixels, never more per bit. Counting
// every byte as 12-bit codes is generous (sub-block lengths, terminator).
bool LzwDataCanPaint(int64_t framePixels, uint64_t dataBytes);
