// "//animated": an animation resized frame by frame. Each composited
// canvas the input's codec hands out is put upright, resized, cut to its
// window and turned as a still is, by one resize prepared once for every
// frame, and handed to the output codec's writer; one canvas, one resized
// frame and the writer's state are held at a time, never the animation.
// A still, or a file whose codec reads no animation, is left to the still
// pipeline (Animated() is false), so that its output is the still's.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "imageio/export_settings.h"
#include "imageio/import.h"
#include "pipeline/pipeline.h"
#include "platform/animation.h"
#include "platform/user_data.h"

// What the copied metadata becomes once the frames are resized.
struct AnimationMetaData {
  UserData ud = nullptr;  // nullptr without "/m"
  bool upright = false;   // the pixels are put upright
  uint32_t dropItems = 0;
  uint32_t keptItems = 0;
};

// Which step a failure happened in.
enum class AnimationStep { kReading, kResampling, kWriting };

class AnimationJob {
 public:
  // Opens the input and its frames; nothing is decoded yet.
  int32_t Open(const std::string& path);
  // More than one frame, from a codec that reads them.
  bool Animated() const { return reader_ != nullptr && reader_->Info().frameCount > 1; }
  const AnimationInfo& Info() const { return reader_->Info(); }

  // Resizes every frame and writes the animation, with the metadata fitted
  // once, to the output path; nothing is written unless every frame was
  // read and encoded. *failedStep says where a failure happened.
  int32_t Run(const ResizeRequest& request, const ExportSettings& settings,
              const AnimationMetaData& metaData, const std::string& outputPath,
              AnimationStep* failedStep);

 private:
  OpenedImport import_;
  std::unique_ptr<AnimationReader> reader_;
};
