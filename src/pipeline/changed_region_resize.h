// An animation's canvases resized one after another, each frame remaking
// only the part of the resized picture that its change reaches and keeping
// the rest from the frame before: the same bytes as resizing every canvas
// whole, with work that follows what the frames paint.
#pragma once

#include <cstdint>

#include "base/pixel_view.h"
#include "pipeline/pipeline.h"
#include "platform/owned.h"
#include "resample/resample.h"

// A buffer of native 32-bit ARGB words, counted as pixel memory.
OSErr NewArgbBuffer(int32_t width, int32_t height, UniqueGWorld* buffer);

class ChangedRegionResize {
 public:
  // Canvases of the geometry's stored size, in native 32-bit ARGB words,
  // put upright and resized to its window as the request says.
  OSErr Prepare(const ResizeRequest& request);

  // Where the pixels of the stored rectangle `changed` of the next canvas
  // go (native words, its own size), before Resize(changed). The first
  // canvas changes whole.
  PixelView Staging(const PixelRect& changed);
  // Puts the staged pixels upright and remakes what they reach of the
  // resized window (whole on the first frame), finished as the request
  // says (FinishDestinationRows); returns that part, in the window's
  // coordinates, empty when nothing changed there.
  PixelRect Resize(const PixelRect& changed);
  // The window resized, up to date with the last Resize; it holds until
  // the next one.
  PixelView Resized() const;

 private:
  OutputGeometry geometry_;
  UniqueGWorld source_;   // the canvas upright, kept from frame to frame
  UniqueGWorld resized_;  // the window, kept likewise
  UniqueGWorld staged_;   // a changed part as stored, when it is yet to be put upright
  PreparedResamplePtr resize_;
  int32_t flattenOnto_ = -1;
  bool first_ = true;
};

// Where a rectangle of a width x height picture lies once the picture is
// turned by quarter turns clockwise (resample/rotate.h); turning the
// rectangle's pixels alone gives the turned picture's pixels there.
PixelRect TurnedRect(const PixelRect& rect, int32_t width, int32_t height, int32_t quarterTurns);
