#include "driver/job/error_line.h"

#include "base/mac_types.h"
#include "driver/job/input_limits.h"
#include "driver/job/process_state.h"
#include "pipeline/quality_search.h"

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
    case kPixelLimitErr:
      return "Error " + name + ": more pixels than //limit-pixels allows (" + number + ")\n";
    case kFrameLimitErr:
      return "Error " + name + ": more frames than //limit-frames allows (" + number + ")\n";
    case kWorkLimitErr:
      return "Error " + name + ": more work than //limit-work allows (" + number + ")\n";
    case kByteLimitErr:
      return "Error " + name + ": larger than //limit-bytes allows (" + number + ")\n";
    case kEmptyOutputErr:
      return "Error " + name + ": an output side comes to less than one pixel (" + number + ")\n";
    case kTimedOutErr:
      return "Error " + name + ": stopped at //timeout (" + number + ")\n";
    case kBytesGoalMissedErr:
      return "Error " + name + ": even the lowest quality is over //max-bytes (" + number + ")\n";
    case kScoreGoalMissedErr:
      return "Error " + name + ": no quality reaches //target-quality (" + number + ")\n";
    default:
      return "Error code: " + name + ": " + number + "\n";
  }
}
