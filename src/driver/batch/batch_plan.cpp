// The first half of a batch: inputs, checks and names, no pixel read.
#include <filesystem>
#include <map>
#include <string>

#include "driver/batch/batch.h"
#include "driver/job/error_line.h"
#include "driver/batch/input_list.h"
#include "driver/batch/output_template.h"
#include "driver/command_line/refusals.h"

namespace {

void Fail(JobSettings& s, std::vector<Note>& notes, std::string text) {
  notes.push_back({NoteKind::kMessage, std::move(text)});
  ++s.errorCount;
}

// The inputs in list order, cut to the shard; a listing that cannot be read
// is a command-line error.
std::vector<std::string> Inputs(JobSettings& s, const BatchOptions& batch,
                                std::vector<Note>& notes) {
  std::vector<std::string> listed;
  if (batch.inputsFile) {
    if (const int32_t err = ReadInputList(*batch.inputsFile, &listed)) {
      Fail(s, notes, JobErrorLine(err, *batch.inputsFile));
    }
  }
  return ShardOf(ListInputs(batch, listed), batch.shardIndex, batch.shardCount);
}

// Refusals of the options together, whatever the inputs.
void CheckBatchOptions(JobSettings& s, const BatchOptions& batch, std::vector<Note>& notes) {
  if (OutputIsTemplate(batch) && s.outputPath) {
    if (auto line = UnknownPlaceholder(*s.outputPath, batch.sizesGiven)) Fail(s, notes, *line);
  }
  if (batch.reportTarget && *batch.reportTarget == "-" && ImageGoesToStandardOutput(s)) {
    Fail(s, notes, "The image and the report cannot both go to the standard output\n");
  }
  if (ManyInputs(batch) && s.dumpTarget) {
    Fail(s, notes, "The metadata dump takes one input: /M with //each or //inputs\n");
  }
}

// The name a file goes by for the collision check: "-" as it is, any other
// made absolute and normal ("./a.jpg" and "a.jpg" are one file).
std::string CollisionKey(const std::string& path) {
  if (path == "-") return path;
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return (ec ? std::filesystem::path(path) : absolute).lexically_normal().string();
}

// Names every output of the checked job; the output must not be its input.
void NameOutputs(JobSettings& s, const BatchOptions& batch, std::vector<Note>& notes) {
  if (s.outputs.empty()) s.outputs.push_back({std::string(), s.geometry, std::string()});
  const std::string templ = s.outputPath.value_or(std::string());
  for (JobOutput& output : s.outputs) {
    output.path = OutputIsTemplate(batch)
                      ? ExpandTemplate(templ, {*s.inputPath, WrittenWidth(output.geometry),
                                               WrittenHeight(output.geometry), output.sizeText})
                      : templ;
    s.outputPath = output.path;
    CheckOutputIsNotInput(s, notes);
  }
  s.outputPath = s.outputs.front().path;
  s.geometry = s.outputs.front().geometry;
}

// Two outputs with one file name, from two inputs or one: each pair refused.
void CheckCollisions(JobSettings& s, const std::vector<PlannedJob>& jobs,
                     std::vector<Note>& notes) {
  std::map<std::string, const std::string*> writers;  // file -> the input writing it
  for (const PlannedJob& job : jobs) {
    for (const std::vector<JobOutput>* list : {&job.settings.outputs, &job.skipped}) {
      for (const JobOutput& output : *list) {
        const auto [at, fresh] =
            writers.emplace(CollisionKey(output.path), &*job.settings.inputPath);
        if (fresh) continue;
        Fail(s, notes,
             "Error: \"" + output.path + "\": written for both \"" + *at->second + "\" and \"" +
                 *job.settings.inputPath + "\"\n");
      }
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

}  // namespace

BatchPlan PlanBatch(JobSettings& s, const BatchOptions& batch, std::vector<Note>& notes) {
  BatchPlan plan;
  plan.manyInputs = ManyInputs(batch);
  CheckBatchOptions(s, batch, notes);
  const std::vector<std::string> inputs =
      plan.manyInputs ? Inputs(s, batch, notes) : std::vector<std::string>();
  if (!plan.manyInputs) {
    // One input, as the last word gives it; the checks say when there is none.
    PlannedJob job;
    job.settings = s;
    job.settings.errorCount = 0;
    InputProbe probe;
    probe.counted = true;
    RunChecksForInput(job.settings, batch.sizes, notes, &probe);
    s.errorCount += job.settings.errorCount;
    if (s.errorCount != 0) return plan;
    job.sourceFormat = probe.format;
    NameOutputs(job.settings, batch, notes);
    plan.jobs.push_back(std::move(job));
  }
  bool errorsSaid = false;  // the checks' refusals are said for the first input they concern
  for (const std::string& input : inputs) {
    PlannedJob job;
    job.settings = s;
    job.settings.errorCount = 0;
    job.settings.inputPath = input;
    std::vector<Note> own;
    InputProbe probe;
    RunChecksForInput(job.settings, batch.sizes, own, &probe);
    if (job.settings.errorCount == 0 && probe.code == 0) NameOutputs(job.settings, batch, own);
    if (job.settings.errorCount != 0) {
      if (!errorsSaid) {
        notes.insert(notes.end(), own.begin(), own.end());
        s.errorCount += job.settings.errorCount;
      }
      errorsSaid = true;
      continue;
    }
    if (probe.code != 0) {
      plan.failedProbes.push_back(std::move(probe));
      plan.failedInputs.push_back(input);
      continue;
    }
    job.sourceFormat = probe.format;
    plan.jobs.push_back(std::move(job));
  }
  for (PlannedJob& job : plan.jobs) job.settings.errorCount = 0;
  CheckCollisions(s, plan.jobs, notes);
  if (s.errorCount != 0) return plan;
  if (batch.skipExisting) {
    for (PlannedJob& job : plan.jobs) SetAsideExisting(job);
  }
  return plan;
}
