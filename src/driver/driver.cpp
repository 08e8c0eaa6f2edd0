#include "driver/driver.h"

#include <csignal>
#include <cstdio>
#include <span>
#include <string_view>

#include "base/quiet_stderr.h"
#include "driver/batch/batch.h"
#include "driver/command_line/checks.h"
#include "driver/command_line/command_line.h"
#include "driver/command_line/refusals.h"
#include "driver/job/error_line.h"
#include "driver/job/image_job.h"
#include "driver/job/process_state.h"
#include "driver/serve/serve.h"
#include "imageio/usage.h"
#include "metadata/dump.h"
#include "platform/quicktime.h"

namespace {

constexpr char kVersionBanner[] = "tavrel $Revision: 1.31 $ - resizes one still image\n";

// Stops the imaging services once, on whichever way the run ends.
struct QuickTimeSession {
  QuickTimeSession() = default;
  QuickTimeSession(const QuickTimeSession&) = delete;
  QuickTimeSession& operator=(const QuickTimeSession&) = delete;
  ~QuickTimeSession() { StopQuickTime(); }
};

void Show(const std::vector<Note>& notes) {
  for (const Note& note : notes) {
    switch (note.kind) {
      case NoteKind::kMessage:
        WriteStandardError(note.text);
        break;
      case NoteKind::kUsage:
        PrintUsage(Process().programName);
        break;
      case NoteKind::kVersion:
        WriteStandardError(kVersionBanner);
        break;
    }
  }
}

// The dump's result never changes the run; a dump file that cannot be opened
// while the image takes the standard output is said, as the dump then goes
// nowhere.
void DumpMetaDataAsked(const JobSettings& settings) {
  if (!settings.dumpTarget) return;
  const int32_t err = DumpMetaData(
      *settings.inputPath, *settings.dumpTarget,
      ImageGoesToStandardOutput(settings) ? DumpFallback::kNowhere : DumpFallback::kStandardOutput,
      settings.dumpJson ? DumpStyle::kJson : DumpStyle::kText);
  if (err != noErr) WriteStandardError(JobErrorLine(err, *settings.dumpTarget));
}

// "//sizes", "//each", "//inputs" and their company (driver/batch.h).
int32_t RunBatchCommand(JobSettings& settings, const BatchOptions& batch) {
  std::vector<Note> notes;
  const BatchPlan plan = PlanBatch(settings, batch, notes);
  Show(notes);
  if (settings.errorCount != 0) {
    PrintUsage(Process().programName);
    return settings.errorCount;
  }
  // One input only: many are refused with "/M".
  if (!plan.jobs.empty()) DumpMetaDataAsked(plan.jobs.front().settings);
  return RunBatch(plan, batch);
}

// The long option a word names ("//jobs", "--jobs", "-/jobs"), or empty.
std::string_view LongOptionOf(std::string_view word) {
  const bool flagStart = word.size() > 2 && (word[0] == '-' || word[0] == '/');
  return flagStart && (word[1] == '-' || word[1] == '/') ? word.substr(2) : std::string_view();
}

// "//serve" with "//jobs N" and nothing else: every job brings its own words.
int32_t RunServeCommand(std::span<const std::string> rest, const ScanOutcome& scan,
                        int32_t errors) {
  for (size_t i = 0; i < rest.size(); ++i) {
    const std::string_view option = LongOptionOf(rest[i]);
    if (option == "jobs") ++i;
    if (option == "serve" || option == "jobs") continue;
    WriteStandardError("//serve takes //jobs alone: \"" + rest[i] + "\" belongs in a job\n");
    ++errors;
  }
  if (errors == 0) return RunServe(scan.batch.jobs != 0 ? scan.batch.jobs : DefaultJobs());
  PrintUsage(Process().programName);
  return errors;
}

}  // namespace

int32_t RunDriver(const std::vector<std::string>& words) {
  // A dump whose reader has gone must not end the run before the image is
  // written: a write to a closed pipe fails quietly instead.
  std::signal(SIGPIPE, SIG_IGN);
  Process().programName = ProgramNameFromPath(words.empty() ? std::string() : words[0]);

  const OSErr startErr = StartQuickTime(0);
  QuickTimeSession session;
  if (startErr != noErr) return startErr;

  JobSettings settings;
  const std::span<const std::string> rest =
      words.empty() ? std::span<const std::string>() : std::span(words).subspan(1);
  ScanOutcome scan = ScanWords(rest, settings);
  RefusePlaceholderWithoutReport(settings, scan);
  Process().verbose = scan.verbose;
  Process().trace = scan.trace;
  Show(scan.notes);
  // "//version" alone answers a script's question and nothing more.
  if (scan.versionAsked && rest.size() == 1) return noErr;

  if (scan.batch.serve) return RunServeCommand(rest, scan, settings.errorCount);
  if (BatchAsked(scan.batch)) return RunBatchCommand(settings, scan.batch);

  std::vector<Note> checkNotes;
  RunChecks(settings, checkNotes);
  Show(checkNotes);
  if (settings.errorCount != 0) {
    PrintUsage(Process().programName);
    return settings.errorCount;
  }

  DumpMetaDataAsked(settings);

  const JobResult job = RunImageJob(settings);
  // Outputs that failed together (the reading) say so once.
  std::string said;
  for (size_t i = 0; i < job.outputs.size(); ++i) {
    const OutputResult& output = job.outputs[i];
    if (output.code == noErr) continue;
    const std::string& path = settings.outputs[i].path;
    std::string line =
        JobErrorLine(output.code, FileForStage(output.stage, *settings.inputPath, path));
    if (line != said) WriteStandardError(line);
    said = std::move(line);
  }
  return job.code;
}

int ExitStatus(int32_t code) {
  // The system keeps the low byte alone; a failure must never read as 0.
  const int status = int(uint32_t(code) & 0xFF);
  return code != 0 && status == 0 ? 255 : status;
}
