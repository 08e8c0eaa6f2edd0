// Everything one run is asked to do, as the command line gives it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/mac_types.h"
#include "imageio/export_settings.h"
#include "resample/resample.h"

struct JobSettings {
  std::optional<std::string> inputPath;
  std::optional<std::string> outputPath;
  std::optional<std::string> dumpTarget;  // a file name, or "-" for the standard output
  float percentScale = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t horizontalEdge = kEdgeDefault;
  int32_t verticalEdge = kEdgeDefault;
  int32_t kernel = kKernelSinc;
  int32_t rotation = 0;  // degrees clockwise
  // "//linear", "//premultiply"
  FilterSpace filterSpace;
  bool copyMetadata = false;
  ExportSettings exportSettings;
  Rect sourceBounds;  // the input's natural bounds once probed
  int32_t errorCount = 0;
};
