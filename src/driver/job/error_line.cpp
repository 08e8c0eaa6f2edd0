#include "driver/job/error_line.h"

#include "base/mac_types.h"
#include "codecs/common/animation.h"
#include "driver/job/image_job.h"
#include "driver/job/process_state.h"
#include "pipeline/animation_work.h"

std::optional<std::string> FileForStage(uint8_t stage, const std::string& inputPath,
                                        const std::string& outputPath) {
  if (stage == kStageReading) return inputPath;
  if (stage == kStageWriting) return outputPath;
  return std::nullopt;
}

std::string JobErrorLine(int32_t code, const std::optional<std::string>& file) {
  std::string name(1, '"');  // appended, not concatenated: GCC 12 warns wrongly on the latter
  name += file.value_or("(null)");
  name += '"';
  const std::string number = std::to_string(code);
  switch (code) {
    case badComponentInstance:
      return "Error " + name + ": bad component instance (" + number + ")\n";
    case accessDeniedErr:
      return "Error " + name + ": access denied (" + number + ")\n";
    case noHandlerErr:
      return "Error " + name + ": can't find handler (" + number + ")\n";
    case memFullErr:
      return "Error: not enough memory (" + number + ")\n";
    case paramErr:
      return "Error " + name + ": parameter error (" + number + ")\n";
    case fnfErr:
      return "Error: " + name + ": file not found (" + number + ")\n";
    case nsvErr:
      return "Error " + name + ": no such volume (" + number + ")\n";
    default:
      return "Error code: " + name + ": " + number + "\n";
  }
}

std::string OutputErrorLine(const OutputResult& output, const std::optional<std::string>& file) {
  return output.line.empty() ? JobErrorLine(output.code, file) : output.line;
}

std::string AnimationWorkLine(const std::string& inputPath, const AnimationInfo& info) {
  std::string line = "Error \"";
  line += inputPath;
  line += "\": " + std::to_string(info.frameCount) + " frames of " + std::to_string(info.width) +
          "x" + std::to_string(info.height) + " exceed the animation work limit of " +
          std::to_string(kMostAnimationWork) + " frame pixels (" + std::to_string(memFullErr) +
          ")\n";
  return line;
}
