// The second half of a batch: the jobs, their error and report lines.
#include "driver/batch/batch.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>

#include "base/errno_error.h"
#include "base/quiet_stderr.h"
#include "driver/job/error_line.h"
#include "driver/command_line/web_output.h"
#include "metadata/drop_items.h"
#include "stream/temporary_guard.h"

namespace {

// Where the report lines go, one whole line at a time from any thread.
class ReportSink {
 public:
  ReportSink() = default;
  ReportSink(const ReportSink&) = delete;
  ReportSink& operator=(const ReportSink&) = delete;
  ~ReportSink() {
    if (file_ != nullptr && file_ != stdout) std::fclose(file_);
  }
  // noErr, or the open's code; without a target every line is dropped.
  int32_t Open(const std::optional<std::string>& target) {
    if (!target) return noErr;
    file_ = *target == "-" ? stdout : std::fopen(target->c_str(), "we");
    return file_ != nullptr ? noErr : int32_t(ErrorFromErrno(errno));
  }
  void Write(const ReportRecord& record) {
    if (file_ == nullptr) return;
    const std::string line = ReportLine(record);
    const std::lock_guard<std::mutex> hold(lock_);
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);  // a reader down a pipe sees each output as it is done
  }

 private:
  std::FILE* file_ = nullptr;
  std::mutex lock_;
};

// What every line of one job says of its source and of what was asked.
ReportRecord JobRecord(const PlannedJob& job) {
  const JobSettings& s = job.settings;
  ReportRecord r;
  r.input = *s.inputPath;
  r.sourceKnown = true;
  r.sourceWidth = s.geometry.storedWidth;
  r.sourceHeight = s.geometry.storedHeight;
  if (job.sourceFormat != nullptr) r.sourceCodec = job.sourceFormat->name;
  if (s.upright) r.upright = s.geometry.orientation;
  r.metadataCopied = s.copyMetadata;
  r.metadataDropped = LeftOutKinds(s.dropItems, s.keptItems);
  return r;
}

// The record of one output, written, failed or skipped.
ReportRecord OutputRecord(const PlannedJob& job, const JobOutput& output) {
  ReportRecord r = JobRecord(job);
  r.output = output.path;
  r.sizeKnown = true;
  r.width = WrittenWidth(output.geometry);
  r.height = WrittenHeight(output.geometry);
  JobSettings named = job.settings;
  named.outputPath = output.path;
  if (const ImageFormat* format = OutputFormat(named)) {
    r.codec = format->name;
    const int16_t depth = named.exportSettings.depth;
    r.bits = format->keepsDeepSamples && (depth == 48 || depth == 64) ? 16 : 8;
  }
  return r;
}

std::string WithoutNewline(std::string line) {
  if (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

struct BatchRun {
  explicit BatchRun(const BatchPlan& p) : plan(p) {}
  const BatchPlan& plan;
  ReportSink report;
  std::atomic<int32_t> failedInputs{0};
  std::atomic<int32_t> firstCode{0};
  std::atomic<size_t> next{0};

  void RunJob(const PlannedJob& job) {
    for (const JobOutput& output : job.skipped) {
      ReportRecord r = OutputRecord(job, output);
      r.status = ReportStatus::kSkipped;
      report.Write(r);
    }
    if (job.settings.outputs.empty()) return;
    for (const JobOutput& output : job.settings.outputs) {
      const std::filesystem::path folder = std::filesystem::path(output.path).parent_path();
      std::error_code ec;  // a folder that cannot be made fails the write, which says so
      if (!folder.empty() && output.path != "-") std::filesystem::create_directories(folder, ec);
    }
    const auto start = std::chrono::steady_clock::now();
    const JobResult result = RunImageJob(job.settings);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::string said;  // one line for a failure all outputs share
    for (size_t i = 0; i < job.settings.outputs.size(); ++i) {
      const JobOutput& output = job.settings.outputs[i];
      const OutputResult& done = result.outputs[i];
      ReportRecord r = OutputRecord(job, output);
      r.facts = result.facts;
      r.seconds = seconds;
      r.code = done.code;
      if (done.code == noErr) {
        struct stat status {};
        if (output.path != "-" && stat(output.path.c_str(), &status) == 0) {
          r.bytes = uint64_t(status.st_size);
        }
      } else {
        r.status = ReportStatus::kFailed;
        const std::string line =
            OutputErrorLine(done, FileForStage(done.stage, *job.settings.inputPath, output.path));
        if (line != said) WriteStandardError(line);
        said = line;
        r.message = WithoutNewline(line);
      }
      report.Write(r);
    }
    if (result.code != noErr) {
      ++failedInputs;
      int32_t none = 0;
      firstCode.compare_exchange_strong(none, result.code);
    }
  }

  void Work() {
    for (size_t i; (i = next++) < plan.jobs.size();) RunJob(plan.jobs[i]);
  }
};

}  // namespace

// Two: on two cores, 120 JPEGs of 1600x1200 to 256 px take 0.84 s with two
// jobs against 1.13 s with one and 1.06 s with four, and two jobs peak at
// 24.8 MB where two single runs take 2 x 13.4 MB; each job overlaps its own
// decode and encode already, so more jobs only add memory (bench/many_images.sh).
int32_t DefaultJobs() {
  return std::thread::hardware_concurrency() == 1 ? 1 : 2;
}


int32_t RunBatch(const BatchPlan& plan, const BatchOptions& batch) {
  BatchRun run(plan);
  if (const int32_t err = run.report.Open(batch.reportTarget)) {
    WriteStandardError(JobErrorLine(err, *batch.reportTarget));
    return err;
  }
  for (size_t i = 0; i < plan.failedProbes.size(); ++i) {
    const InputProbe& probe = plan.failedProbes[i];
    WriteStandardError(probe.line);
    ReportRecord r;
    r.input = plan.failedInputs[i];
    r.status = ReportStatus::kFailed;
    r.code = probe.code;
    r.message = WithoutNewline(probe.line);
    run.report.Write(r);
    ++run.failedInputs;
  }
  const size_t threads =
      std::min(plan.jobs.size(), size_t(batch.jobs != 0 ? batch.jobs : DefaultJobs()));
  // The jobs running at once may each be writing all of their outputs.
  size_t mostOutputs = 1;
  for (const PlannedJob& job : plan.jobs) {
    mostOutputs = std::max(mostOutputs, job.settings.outputs.size());
  }
  if (const int32_t err = ReserveTemporarySlots(threads * mostOutputs)) {
    WriteStandardError(JobErrorLine(err, std::nullopt));
    return err;
  }
  std::vector<std::thread> helpers;
  for (size_t t = 1; t < threads; ++t) {
    try {
      helpers.emplace_back([&run] { run.Work(); });
    } catch (const std::system_error&) {
      break;  // fewer threads; this one works through the rest
    }
  }
  run.Work();
  for (std::thread& helper : helpers) helper.join();
  return plan.manyInputs ? run.failedInputs.load() : run.firstCode.load();
}
