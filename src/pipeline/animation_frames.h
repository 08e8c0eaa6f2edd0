// "//animated": an animation as a run of frames through the stages a still
// takes (pipeline/frame_stages.h). The input's codec hands out each frame
// composited onto its canvas; the canvas is matched to sRGB and put upright
// once, then each output resizes it by its own resize, prepared once for
// every frame, finishes its transparency, turns it and hands it to its own
// animation writer. One canvas and each output's frame and writer are held
// at a time, never the animation. A still, or a file whose codec reads no
// animation, is left to the still pipeline (Animated() is false), so that
// its output is the still's.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/deadline.h"
#include "imageio/export_settings.h"
#include "imageio/import.h"
#include "pipeline/resize_request.h"
#include "platform/graphics_animation.h"
#include "platform/graphics_import.h"
#include "platform/user_data.h"

// One output: what it is resized to and written as, and its own copy of
// the copied metadata (nullptr without "/m"), fitted to it once its frames
// are written.
struct FramesOutput {
  ResizeRequest request;
  ExportSettings settings;
  std::string path;
  UserData ud = nullptr;
};

// What every output's metadata becomes beside the fitting.
struct MetaDataFit {
  bool upright = false;  // the pixels are put upright, here or by the importer
  uint32_t dropItems = 0;
  uint32_t keptItems = 0;
};

// Which step an output failed in.
enum class AnimationStep { kReading, kResampling, kWriting };
struct FramesResult {
  int32_t code = 0;
  AnimationStep step = AnimationStep::kReading;
};

class AnimationFrames {
 public:
  // Opens the input and its frames; nothing is decoded yet.
  int32_t Open(const std::string& path);
  // More than one frame, from a codec that reads them.
  bool Animated() const { return reader_ != nullptr && reader_->Info().frameCount > 1; }
  // Whether the importer hands out its frames upright itself (JPEG XL),
  // whatever orientation its metadata states.
  bool DrawnUpright() const { return GraphicsImportDrawsUpright(import_.importer); }
  // Adds the input's metadata to ud.
  void ReadMetaData(UserData ud) const;
  // The job's deadline: past it, Run stops before the next frame, every
  // output failing in its reading with kTimedOutErr and writing nothing.
  void SetDeadline(const Deadline& deadline) { deadline_ = deadline; }

  // Every frame through every output's stages; each output's file is
  // written, with its metadata fitted, once all of its frames are encoded,
  // and nothing of an output that failed. matchColour: the canvases are
  // taken to sRGB from the input's profile. One result per output.
  std::vector<FramesResult> Run(std::span<const FramesOutput> outputs, bool matchColour,
                                const MetaDataFit& fit);

 private:
  // The next composited canvas, of the stored size; eofErr after the last
  // frame, codecErr for an animation of none.
  OSErr NextCanvas(const OutputGeometry& shared, bool first, PixelView* canvas, FrameInfo* frame);

  OpenedImport import_;
  std::unique_ptr<AnimationReader> reader_;
  Deadline deadline_;
};
