#include "driver/command_line/refusals.h"

#include <string>

#include "base/same_file.h"
#include "driver/command_line/web_output.h"
#include "driver/command_line/write_plan.h"
#include "imageio/export.h"

namespace {

void Fail(JobSettings& s, std::vector<Note>& notes, std::string text) {
  notes.push_back({NoteKind::kMessage, std::move(text)});
  ++s.errorCount;
}

}  // namespace

bool ImageGoesToStandardOutput(const JobSettings& s) {
  for (const JobOutput& output : s.outputs) {
    if (output.path == "-" || NamesStandardOutput(output.path)) return true;
  }
  return false;
}

void AddJobFiles(const JobSettings& s, int32_t input, bool own, WritePlan* plan) {
  if (s.inputPath) AddFile(plan, FileUse::kInput, *s.inputPath, input, own);
  for (const JobOutput& output : s.outputs) {
    if (!output.path.empty()) AddFile(plan, FileUse::kOutput, output.path, input, own);
  }
}

void CheckOutputTargets(JobSettings& s, std::vector<Note>& notes) {
  WritePlan plan;
  plan.inPlace = s.inPlace;
  AddJobFiles(s, 0, true, &plan);
  if (s.dumpTarget)
    AddFile(&plan, FileUse::kDump, s.dumpTarget->empty() ? "-" : *s.dumpTarget, -1, true);
  for (const Meeting& meeting : Meetings(plan)) Fail(s, notes, MeetingLine(plan, meeting));
}

void CheckOptionPairs(JobSettings& s, std::vector<Note>& notes) {
  if (s.dropItems != 0 && !s.copyMetadata) {
    Fail(s, notes, "Nothing to drop: //drop needs /m\n");
  }
  if (s.keptItems != 0 && !s.copyMetadata) {
    Fail(s, notes, "Nothing to keep: //keep needs /m\n");
  }
  if (s.keptItems != 0 && s.dropItems != 0) {
    Fail(s, notes, "Conflicting metadata choice with //keep and //drop\n");
  }
  if (s.dumpJson && !s.dumpTarget) {
    Fail(s, notes, "Nothing to print as JSON: //json needs /M\n");
  }
  if (s.sharpen != 0 && s.animated) {
    Fail(s, notes, "//sharpen sharpens still pictures: not with //animated\n");
  }
  if (s.fitGiven && s.fillGiven) {
    Fail(s, notes, "Redundant size specification with //fit and //fill\n");
  }
}

namespace {

// "WebP", "WebP or GIF", "WebP, GIF or ...": the formats written that
// have the trait.
template <class Trait>
std::string FormatNames(Trait has) {
  std::vector<const char*> names;
  for (const ImageFormat* format : ImageFormats()) {
    if (has(*format)) names.push_back(format->name);
  }
  std::string text;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " or " : ", ";
    text += names[i];
  }
  return text;
}

}  // namespace

void CheckAnimationOutput(JobSettings& s, std::vector<Note>& notes) {
  if (!s.animated) return;
  // An output name no exporter claims fails on its own.
  for (const JobOutput& output : s.outputs) {
    const ImageFormat* format = output.format;
    if (format == nullptr || CodecWritesAnimation(format->subtype)) continue;
    Fail(s, notes,
         std::string(format->name) + " holds no animation: //animated needs " +
             FormatNames([](const ImageFormat& f) { return CodecWritesAnimation(f.subtype); }) +
             " output\n");
    return;
  }
}

void CheckQualityGoal(JobSettings& s, std::vector<Note>& notes) {
  if (s.maxBytesGiven && s.scoreGiven) {
    Fail(s, notes, "Conflicting quality choice with //max-bytes and //target-quality\n");
    return;
  }
  if (s.qualityGoal.kind == QualityGoalKind::kNone) return;
  const char* option = s.maxBytesGiven ? "//max-bytes" : "//target-quality";
  if (s.animated) {
    Fail(s, notes, std::string(option) + " searches a still's quality: not with //animated\n");
    return;
  }
  // An output name no exporter claims fails on its own.
  for (const JobOutput& output : s.outputs) {
    const ImageFormat* format = output.format;
    if (format == nullptr || format->lossyQuality) continue;
    Fail(s, notes,
         std::string(format->name) + " has no quality to search: " + option + " needs " +
             FormatNames([](const ImageFormat& f) {
               return f.lossyQuality && ExportFormat(f.subtype) != nullptr;
             }) +
             " output\n");
    return;
  }
}
