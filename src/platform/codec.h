// What a codec component provides: the platform's side of the contract.
// Each codec lives in its own importer and exporter files under codecs/,
// which define the registry declared here; the platform reaches a codec
// only through these records.
// No codec function throws or prints: library errors become result codes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/mac_types.h"
#include "colour/colour_match.h"
#include "platform/animation.h"
#include "platform/gworld.h"
#include "platform/image_format.h"
#include "platform/user_data.h"
#include "stream/byte_sink.h"
#include "stream/row_band.h"

using ByteSpan = std::span<const uint8_t>;

struct ImageHeader {
  int32_t width = 0;
  int32_t height = 0;
  OSType preferredPixelFormat = 0;  // "b48r", "b64a", "b16g", "b32a", or 0 for 32-bit ARGB
  // Whether draw writes each row once, from the top, publishing rows as
  // they are final and holding at most RowBand::kRowsInFlight unpublished,
  // so that it can draw into a ring of rows that a reader follows.
  bool drawsRowsInOrder = false;
  // Whether draw already applies the file's own orientation, so that an
  // orientation its metadata states must not be applied again.
  bool drawnUpright = false;
  // Whether the picture may hold transparency: an alpha channel, or a
  // transparent colour (PNG's tRNS, GIF's transparent index).
  bool hasAlpha = false;
  // Whether draw can decode the picture at 1/2, 1/4 or 1/8 of its size.
  bool drawsScaled = false;
};

// What one drawing asks of a codec.
struct DrawRequest {
  // Of the picture's size decoded at 1/scale (DecodedSide), in 32-bit
  // ARGB, "b48r" or "b64a" (16-bit samples most significant byte first).
  RowBand* rows = nullptr;
  // When not null, converts CMYK samples (see readColour); other colour
  // matching happens on the rows as they are published.
  const ColourMatch* cmyk = nullptr;
  // 1, or 2, 4 or 8 for a codec whose header says drawsScaled.
  int32_t scale = 1;
  // Threads the drawing may keep busy, its own included (at least 1).
  int32_t threads = 1;
};

struct ImporterCodec {
  const ImageFormat* format;
  std::string (*name)();  // format plus library and version
  bool (*sniff)(ByteSpan file);
  OSErr (*readHeader)(ByteSpan file, ImageHeader* header);
  // Decodes the whole image into the request's rows. A format the codec
  // cannot draw answers cDepthErr.
  OSErr (*draw)(ByteSpan file, const DrawRequest& request);
  // Adds the file's metadata items to ud; may be nullptr.
  OSErr (*readMetaData)(ByteSpan file, UserData ud) = nullptr;
  // Optional, both or neither: a codec that decodes straight from the open
  // file, so that the file's bytes are never held whole. readSkeleton gives
  // what readHeader and the metadata readers need (a valid file without its
  // image data); drawFromFile does what draw does, reading fd as it goes.
  OSErr (*readSkeleton)(int fd, uint64_t size, std::vector<uint8_t>* skeleton) = nullptr;
  OSErr (*drawFromFile)(int fd, uint64_t size, const DrawRequest& request) = nullptr;
  // Optional: what the stored samples are and how their colours are
  // described (an ICC profile, HEIF's coded description); from the file or
  // its skeleton.
  void (*readColour)(ByteSpan file, ColourSource* colour) = nullptr;
  // Optional: every frame of an animated file, composited, from the whole
  // file (which must outlive the reader); nullptr and an error for a file
  // the codec cannot read so. A still file gives one frame.
  OSErr (*openAnimation)(ByteSpan file, std::unique_ptr<AnimationReader>* reader) = nullptr;
  // With openAnimation: how many frames openAnimation would give, from the
  // headers alone, nothing decoded and no canvas allocated.
  OSErr (*countFrames)(ByteSpan file, int32_t* frames) = nullptr;
  // Optional: whether the codec's library can be loaded on this machine.
  // Asked only when a search reaches the component (nullptr: always there),
  // so that a run pays for a library only if it comes to it.
  bool (*available)() = nullptr;
};

struct ExportRequest {
  RowBand* image = nullptr;  // read from the top, released as it is encoded
  int32_t quality = 768;     // 0 ... 1023; 1024 and above: lossless where the codec has it
  int32_t depth = 24;        // 24, 32, 8 or 40 (others: the nearest of these)
  UserData metaData = nullptr;
  bool exifEnabled = false;
  // JPEG alone: a progressive file; chroma subsampling 444, 422, 420, or 0
  // for the codec's own choice.
  bool progressive = false;
  int32_t subsampling = 0;
  // 0 (fastest) ... 9 (smallest), or -1 for the encoder's own default:
  // libaom's speed 9 - effort (AVIF), x265's presets ultrafast ... placebo
  // (HEIC), WebP's method (2 * effort + 1) / 3, JPEG XL's effort
  // max(1, effort). JPEG has no such trade: it ignores it.
  int32_t effort = -1;
};

struct ExporterCodec {
  const ImageFormat* format;
  std::string (*name)();
  // Encodes the whole file into out, from its start. On failure, what is
  // already there is the caller's to discard.
  OSErr (*encode)(const ExportRequest& request, ByteSink* out);
  // Optional: a writer of animations; the codecs without one write stills.
  OSErr (*startAnimation)(const AnimationRequest& request,
                          std::unique_ptr<AnimationWriter>* writer) = nullptr;
  // Optional: the encoding with the segments that describe the source's
  // gain map carried into it, for a format that holds one.
  std::vector<uint8_t> (*withGainMap)(ByteSpan source, ByteSpan encoded) = nullptr;
  // Optional, as the importer's: whether the library and its encoder are there.
  bool (*available)() = nullptr;
};

// The registry's codecs, in registry order.
const std::vector<const ImporterCodec*>& ImporterCodecs();
const std::vector<const ExporterCodec*>& ExporterCodecs();
