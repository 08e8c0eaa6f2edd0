// Resizing one pixel buffer into another with a separable fixed-point filter.
#pragma once

#include <cstdint>
#include <memory>

#include "base/output_geometry.h"
#include "platform/gworld.h"
#include "stream/row_band.h"

enum EdgeMode : int32_t {
  kEdgeDefault = 0,  // border samples repeat
  kEdgeWrap = 3,     // the source repeats
  kEdgePinch = 4,    // vertical: continued mirrored and turned by half its width
  kEdgeVertical = 8,
};
// The bits of an edge mode that choose the treatment; kEdgeVertical is a flag.
constexpr int32_t kEdgeTreatmentMask = 7;

enum KernelKind : int32_t {
  kKernelSinc = 0,
  kKernelGaussian = 1,
  kKernelWideGaussian = 2,
};

constexpr int32_t kWeightOne = 16384;

// How colour is weighted while it is filtered; the default filters the
// stored samples as they are. linear: in linear light (the sRGB curve
// undone, 16 bits a sample, and redone after). premultiply: colour weighted
// by its alpha, and divided by the filtered alpha after. Alpha itself is
// filtered as without either.
// The space colour is filtered in, as the user asks for it.
struct FilterSpace {
  bool linear = false;
  bool premultiply = false;
};

// How the source rows reach a resize in a space other than the default: as
// stored (the resize converts them), or in the working format already
// (ConvertToWorking, as a ring's rows are converted while they are drawn).
enum class SourceSamples { kStored, kWorking };

// The format a source's rows take in a space other than the default: 16-bit
// samples ("b64a" from 32-bit ARGB, else the source's own), or 0 when the
// space changes nothing for these formats. A band whose rows are converted
// as they are drawn (ConvertToWorking, in place: the row needs room for the
// working format) is resized from that format with SourceSamples::kWorking;
// the same bytes as a resize that converts them itself.
OSType WorkingFormat(FilterSpace space, OSType source, OSType destination);
void ConvertToWorking(FilterSpace space, OSType source, OSType destination, uint8_t* row,
                      int32_t width);

// The size and pixel format of an image on either side of a resize.
struct ImageShape {
  int32_t width = 0;
  int32_t height = 0;
  OSType pixelFormat = 0;
};

// A resize whose working block and tables are ready: everything that can
// fail has been done, only the rows are left.
struct PreparedResample;
struct PreparedResampleDeleter {
  void operator()(PreparedResample* prepared) const;
};
using PreparedResamplePtr = std::unique_ptr<PreparedResample, PreparedResampleDeleter>;

// The part of a resize that is made: columns [left, left + width) and rows
// [top, top + height) of the full destination, exactly as the full resize
// would give them; rows and columns outside it are never computed.
struct OutputWindow {
  int32_t left;
  int32_t top;
  int32_t width;
  int32_t height;
};

// How a resize filters, as the user asks for it: the edges, the kernel,
// the space colour is filtered in and where the samples lie (the
// alignment of both directions, base/output_geometry.h).
struct ResampleFilter {
  EdgeMode horizontalEdge;
  EdgeMode verticalEdge;
  KernelKind kernel;
  FilterSpace space;
  SampleAlignment alignment;
};

// One resize, whole. No field has a default, so that every caller says
// each of them: a brace list that leaves one out is a warning
// (-Wmissing-field-initializers), where a defaulted field or parameter
// would quietly lose an option.
struct ResampleRequest {
  ImageShape source;
  ImageShape destination;  // the full resize
  OutputWindow window;     // the part of it that is made
  SourceSamples samples;
  ResampleFilter filter;
  // The made rows sharpened (resample/sharpen.h) by this amount in 1/256
  // as they are made, before anyone reads them; 0 leaves them as filtered.
  int32_t sharpen;
};

// What ResampleGWorld does up to the first row, with the same results.
OSErr PrepareResample(const ResampleRequest& request, PreparedResamplePtr* prepared);
// The most source rows the resize needs at once: a ring of this many rows
// (plus what its writer holds unpublished) is enough for a source that is
// drawn while it is resized, when SourceMayBeRing says so.
int32_t SourceRowsHeld(const PreparedResample* prepared);
// Whether the source rows are needed in an order a ring can follow: not so
// for vertical wrapping, which needs the last rows first.
bool SourceMayBeRing(EdgeMode verticalEdge);
// Fills the destination from the top, on any one thread, reading the source
// rows as they are published (a band drawn on another thread is followed
// row by row) and letting go of those no longer needed; publishes each
// destination row as it is final and closes the destination at the end.
// The bands' shapes are the prepared ones; 16-bit samples in native order.
// sourceReader: which of the source's readers (RowBand::SetReaders) it is.
void RunPreparedResample(PreparedResample* prepared, RowBand* source, RowBand* destination,
                         int32_t sourceReader);

// 0, cDepthErr for a buffer of a format without a class, memFullErr when the
// working block cannot be had. 16-bit samples must be in native byte order.
// The whole destination, corners aligned, the stored samples filtered.
OSErr ResampleGWorld(GWorldPtr source, GWorldPtr destination, EdgeMode horizontalEdge,
                     EdgeMode verticalEdge, KernelKind kernel);
// The same with every choice of the filter.
OSErr ResampleGWorld(GWorldPtr source, GWorldPtr destination, const ResampleFilter& filter);
