// The first half of a batch: inputs, checks, names and the run's files, no
// pixel read.
#include <algorithm>
#include <filesystem>
#include <map>
#include <string>

#include "driver/batch/batch.h"
#include "driver/batch/input_list.h"
#include "driver/batch/output_template.h"
#include "driver/command_line/format_list.h"
#include "driver/command_line/refusals.h"
#include "driver/command_line/web_output.h"
#include "driver/command_line/write_plan.h"
#include "driver/job/error_line.h"
#include "imageio/export.h"

namespace {

void Fail(JobSettings& s, std::vector<Note>& notes, std::string text) {
  notes.push_back({NoteKind::kMessage, std::move(text)});
  ++s.errorCount;
}

// The codec's usual extension, its first: "jpg" for JPEG.
std::string UsualExtension(OSType codec) {
  const ImageFormat* format = ExportFormat(codec);
  if (format == nullptr) return std::string();
  const std::string extensions = format->extensions;
  return extensions.substr(0, extensions.find(' '));
}

// "//formats" and "//quality" with the rest of the command line.
void CheckFormats(JobSettings& s, std::vector<Note>& notes) {
  if (!s.formats.empty() && s.codecGiven) {
    Fail(s, notes, "Redundant codec choice with //formats and /c\n");
  }
  for (const auto& [codec, quality] : s.codecQualities) {
    if (std::find(s.formats.begin(), s.formats.end(), codec) != s.formats.end()) continue;
    Fail(s, notes,
         "//quality names " + UsualExtension(codec) + ", which //formats does not list\n");
    break;
  }
  // Such a copy is written upright (checks.h), which the other codecs are not.
  const bool upright = s.upright || s.web;
  for (const OSType codec : s.formats) {
    const ImageFormat* format = ExportFormat(codec);
    if (!s.copyMetadata || upright || format == nullptr || !format->containerOrientation) continue;
    Fail(
        s, notes,
        std::string("//formats with /m: ") + format->name + " is written upright; add //upright\n");
    break;
  }
}

// Refusals of the options together, whatever the inputs.
void CheckBatchOptions(JobSettings& s, const BatchOptions& batch, std::vector<Note>& notes) {
  if (OutputIsTemplate(batch) && s.outputName) {
    if (auto line = UnknownPlaceholder(*s.outputName, batch.sizesGiven, batch.formatsGiven)) {
      Fail(s, notes, *line);
    }
  }
  CheckFormats(s, notes);
  if (ManyInputs(batch) && s.dumpTarget) {
    Fail(s, notes, "The metadata dump takes one input: /M with //each or //inputs\n");
  }
}

// Names every output of the checked job, and the format each is written in.
void NameOutputs(JobSettings& s, const BatchOptions& batch) {
  const std::string templ = s.outputName.value_or(std::string());
  for (JobOutput& output : s.outputs) {
    const std::string ext =
        s.formats.empty() ? std::string() : UsualExtension(output.exportSettings.codec);
    output.path =
        OutputIsTemplate(batch)
            ? ExpandTemplate(templ, {*s.inputPath, WrittenWidth(output.geometry),
                                     WrittenHeight(output.geometry), output.sizeText, ext})
            : templ;
    output.format = CodecFormat(output.exportSettings.codec, output.path);
  }
}

// One input's checks (its header probed) and names; false when they fail.
bool CheckAndName(const JobSettings& s, const BatchOptions& batch,
                  const std::optional<std::string>& input, PlannedJob* job,
                  std::vector<Note>& notes, InputProbe* probe) {
  job->settings = s;
  job->settings.errorCount = 0;
  job->settings.inputPath = input;
  RunChecksForInput(job->settings, batch.sizes, notes, probe);
  if (job->settings.errorCount != 0 || probe->code != 0) return false;
  job->sourceFormat = probe->format;
  job->sourceRead = !probe->unread;
  NameOutputs(job->settings, batch);
  return true;
}

// Another shard's input, recorded for the names it writes: from the
// template alone where the name needs no size, else after its header.
void AddOtherShardInput(const JobSettings& s, const BatchOptions& batch, const std::string& input,
                        int32_t place, WritePlan* files) {
  AddFile(files, FileUse::kInput, input, place, false);
  const std::string templ = s.outputName.value_or(std::string());
  const bool srcsetWidths = std::any_of(batch.sizes.begin(), batch.sizes.end(),
                                        [](const SizeEntry& e) { return e.srcsetWidth; });
  const bool sourceCodec =
      std::find(s.formats.begin(), s.formats.end(), kSourceCodec) != s.formats.end();
  if (!TemplateNeedsSize(templ, srcsetWidths) && !sourceCodec) {
    std::vector<std::string> sizes, exts, names;
    for (const SizeEntry& entry : batch.sizes) sizes.push_back(entry.text);
    if (sizes.empty()) sizes.emplace_back();
    for (const OSType codec : s.formats) exts.push_back(UsualExtension(codec));
    if (exts.empty()) exts.emplace_back();
    for (const std::string& size : sizes) {
      for (const std::string& ext : exts)
        names.push_back(ExpandTemplate(templ, {input, 0, 0, size, ext}));
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    for (const std::string& name : names) AddFile(files, FileUse::kOutput, name, place, false);
    return;
  }
  PlannedJob other;
  std::vector<Note> unsaid;  // its own shard says what is wrong with it
  InputProbe probe;
  if (!CheckAndName(s, batch, input, &other, unsaid, &probe)) return;
  for (const JobOutput& output : other.settings.outputs) {
    AddFile(files, FileUse::kOutput, output.path, place, false);
  }
}

// One name for every input is the template's fault, not the inputs'.
bool TemplateTellsInputsApart(JobSettings& s, size_t inputs, std::vector<Note>& notes) {
  const std::string templ = s.outputName.value_or(std::string());
  if (inputs < 2 || !s.outputName || templ.find("{name}") != std::string::npos ||
      templ.find("{file}") != std::string::npos || templ.find("{dir}") != std::string::npos) {
    return true;
  }
  Fail(
      s, notes,
      "Error: \"" + templ + "\": every input would write this name (no {name}, {file} or {dir})\n");
  return false;
}

// Every input of the listing: this shard's checked and named, each failing
// alone where its header cannot be read; the others' names recorded.
void PlanListing(JobSettings& s, const BatchOptions& batch, std::vector<Note>& notes,
                 BatchPlan* plan, WritePlan* files) {
  std::vector<std::string> listed;
  if (batch.inputsFile) {
    if (const int32_t err = ReadInputList(*batch.inputsFile, &listed)) {
      Fail(s, notes, JobErrorLine(err, *batch.inputsFile));
    }
    AddFile(files, FileUse::kInputList, *batch.inputsFile, -1, true);
  }
  const std::vector<std::string> inputs = ListInputs(batch, listed);
  if (!TemplateTellsInputsApart(s, inputs.size(), notes)) return;
  bool errorsSaid = false;  // the checks' refusals are said for the first input they concern
  for (size_t p = 0; p < inputs.size(); ++p) {
    const int32_t place = int32_t(p);
    if (!InShard(p, batch.shardIndex, batch.shardCount)) {
      AddOtherShardInput(s, batch, inputs[p], place, files);
      continue;
    }
    PlannedJob job;
    job.place = place;
    std::vector<Note> own;
    InputProbe probe;
    if (CheckAndName(s, batch, inputs[p], &job, own, &probe)) {
      plan->jobs.push_back(std::move(job));
    } else if (job.settings.errorCount != 0) {
      if (!errorsSaid) {
        notes.insert(notes.end(), own.begin(), own.end());
        s.errorCount += job.settings.errorCount;
      }
      errorsSaid = true;
    } else {
      AddFile(files, FileUse::kInput, inputs[p], place, true);
      plan->failed.push_back({inputs[p], place, probe.code, probe.line});
    }
  }
}

// Under "//skip-existing", outputs whose file exists move to skipped.
void SetAsideExisting(PlannedJob& job) {
  std::vector<JobOutput> left;
  for (JobOutput& output : job.settings.outputs) {
    std::error_code ec;
    const bool exists = output.path != "-" && std::filesystem::exists(output.path, ec);
    (exists ? job.skipped : left).push_back(std::move(output));
  }
  job.settings.outputs = std::move(left);
}

bool SameOutput(const JobOutput& a, const JobOutput& b) {
  const OutputGeometry &g = a.geometry, &h = b.geometry;
  return a.path == b.path && a.format == b.format && g.fullWidth == h.fullWidth &&
         g.fullHeight == h.fullHeight && g.windowLeft == h.windowLeft &&
         g.windowTop == h.windowTop && g.windowWidth == h.windowWidth &&
         g.windowHeight == h.windowHeight && g.quarterTurns == h.quarterTurns;
}

// Entries that come out as one file (two widths cut to the source's under
// "//no-enlarge"): written once, reported for each.
void FoldSameOutputs(PlannedJob& job) {
  std::vector<JobOutput> kept;
  for (JobOutput& output : job.settings.outputs) {
    const auto same = std::find_if(kept.begin(), kept.end(),
                                   [&](const JobOutput& k) { return SameOutput(k, output); });
    if (same == kept.end()) {
      kept.push_back(std::move(output));
    } else {
      job.sameAs.emplace_back(size_t(same - kept.begin()), std::move(output));
    }
  }
  job.settings.outputs = std::move(kept);
}

void AddPlannedJob(const PlannedJob& job, WritePlan* files) {
  AddJobFiles(job.settings, job.place, true, files);
  for (const JobOutput& output : job.skipped) {
    AddFile(files, FileUse::kKept, output.path, job.place, true);
  }
}

// The one check over the run's files: a clash between two inputs fails
// those inputs, each with the line that names the other; any other meeting
// refuses the command line.
void JudgeFiles(JobSettings& s, const WritePlan& files, std::vector<Note>& notes, BatchPlan* plan) {
  std::map<int32_t, std::string> clashed;  // place -> its first line
  for (const Meeting& meeting : Meetings(files)) {
    const std::string line = MeetingLine(files, meeting);
    if (!BetweenInputs(files, meeting)) {
      Fail(s, notes, line);
      continue;
    }
    for (const size_t use : {meeting.first, meeting.second}) {
      if (files.files[use].own) clashed.emplace(files.files[use].input, line);
    }
  }
  std::vector<PlannedJob> left;
  for (PlannedJob& job : plan->jobs) {
    const auto clash = clashed.find(job.place);
    if (clash == clashed.end()) {
      left.push_back(std::move(job));
    } else {
      plan->failed.push_back({*job.settings.inputPath, job.place, dupFNErr, clash->second});
    }
  }
  plan->jobs = std::move(left);
  std::stable_sort(plan->failed.begin(), plan->failed.end(),
                   [](const FailedInput& a, const FailedInput& b) { return a.place < b.place; });
}

}  // namespace

BatchPlan PlanBatch(JobSettings& s, const BatchOptions& batch, std::vector<Note>& notes) {
  BatchPlan plan;
  plan.manyInputs = ManyInputs(batch);
  CheckBatchOptions(s, batch, notes);
  WritePlan files;
  files.inPlace = s.inPlace;
  if (plan.manyInputs) {
    PlanListing(s, batch, notes, &plan, &files);
  } else {
    // One input, as the last word gives it; the checks say when there is none.
    PlannedJob job;
    InputProbe probe;
    probe.counted = true;
    const bool named = CheckAndName(s, batch, s.inputPath, &job, notes, &probe);
    s.errorCount += job.settings.errorCount;
    if (named) plan.jobs.push_back(std::move(job));
  }
  if (s.errorCount != 0) return plan;
  for (PlannedJob& job : plan.jobs) {
    if (batch.skipExisting) SetAsideExisting(job);
    FoldSameOutputs(job);
    AddPlannedJob(job, &files);
  }
  if (batch.reportTarget) AddFile(&files, FileUse::kReport, *batch.reportTarget, -1, true);
  if (s.dumpTarget) {
    AddFile(&files, FileUse::kDump, s.dumpTarget->empty() ? "-" : *s.dumpTarget, -1, true);
  }
  JudgeFiles(s, files, notes, &plan);
  return plan;
}
