#include "driver/command_line/refusals.h"

#include <string>

#include "base/same_file.h"
#include "driver/command_line/web_output.h"
#include "imageio/export.h"

namespace {

void Fail(JobSettings& s, std::vector<Note>& notes, std::string text) {
  notes.push_back({NoteKind::kMessage, std::move(text)});
  ++s.errorCount;
}

bool DumpGoesToStandardOutput(const JobSettings& s) {
  return s.dumpTarget &&
         (s.dumpTarget->empty() || *s.dumpTarget == "-" || NamesStandardOutput(*s.dumpTarget));
}

}  // namespace

// The output replaces its target through a temporary and a rename, so an
// output that is the input would be read whole before it goes; but one slip
// in a batch line would still lose a folder of originals. Only a regular
// file counts: a terminal or a socket may well be both ends.
void CheckOutputIsNotInput(JobSettings& s, std::vector<Note>& notes) {
  if (s.inPlace || !s.inputPath || !s.outputPath || *s.outputPath == "-") return;
  if (IsRegularFile(*s.inputPath) && SameFile(*s.inputPath, *s.outputPath)) {
    Fail(s, notes,
         "Error: \"" + *s.outputPath +
             "\": the output is the input file (//in-place replaces it)\n");
  }
}

bool ImageGoesToStandardOutput(const JobSettings& s) {
  return s.outputPath && (*s.outputPath == "-" || NamesStandardOutput(*s.outputPath));
}

void CheckOutputTargets(JobSettings& s, std::vector<Note>& notes) {
  CheckOutputIsNotInput(s, notes);
  if (ImageGoesToStandardOutput(s) && DumpGoesToStandardOutput(s)) {
    Fail(s, notes, "The image and the metadata dump cannot both go to the standard output\n");
  }
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
  if (s.fitGiven && s.fillGiven) {
    Fail(s, notes, "Redundant size specification with //fit and //fill\n");
  }
}

namespace {

// "WebP", "WebP or GIF", "WebP, GIF or ...": the formats written as animations.
std::string AnimationFormatNames() {
  std::vector<const char*> names;
  for (const ImageFormat* format : ImageFormats()) {
    if (CodecWritesAnimation(format->subtype)) names.push_back(format->name);
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
  const ImageFormat* format = OutputFormat(s);
  if (format == nullptr || CodecWritesAnimation(format->subtype)) return;
  Fail(s, notes,
       std::string(format->name) + " holds no animation: //animated needs " +
           AnimationFormatNames() + " output\n");
}
