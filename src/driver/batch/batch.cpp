// The second half of a batch: the jobs, their error and report lines.
#include "driver/batch/batch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <thread>

#include "base/errno_error.h"
#include "base/quiet_stderr.h"
#include "driver/batch/batch_progress.h"
#include "driver/batch/report_file.h"
#include "driver/job/error_line.h"
#include "driver/job/process_state.h"
#include "metadata/drop_items.h"
#include "stream/signal_note.h"
#include "stream/temporary_guard.h"

namespace {

// Where the report lines go, one whole line at a time from any thread. The
// first line that cannot be written ends the report: a half line is cut
// off a regular file, no later line is written, and the run fails with
// that line's code. A signal that ends the run adds the interrupted line.
class ReportSink {
 public:
  ReportSink() = default;
  ReportSink(const ReportSink&) = delete;
  ReportSink& operator=(const ReportSink&) = delete;
  ~ReportSink() { Close(); }
  // noErr, or the open's code; without a target every line is dropped.
  int32_t Open(const std::optional<std::string>& target) {
    if (!target) return noErr;
    if (*target == "-") {
      std::fflush(stdout);
      fd_ = STDOUT_FILENO;
    } else if (const int32_t err = OpenReportFile(*target, &fd_)) {
      return err;
    }
    ArmSignalNote(fd_, InterruptedLine());
    return noErr;
  }
  void Write(const ReportRecord& record) {
    if (fd_ < 0) return;
    const std::string line = ReportLine(record);
    const std::lock_guard<std::mutex> hold(lock_);
    if (failure_ != noErr) return;
    const off_t start = lseek(fd_, 0, SEEK_CUR);
    MarkSignalNoteMidLine(true);
    int error = 0;
    const size_t written = WriteAll(fd_, line, &error);
    if (error == 0) {
      MarkSignalNoteMidLine(false);
      return;
    }
    failure_ = ErrorFromErrno(error);
    struct stat status {};
    const bool cut = written == 0 || (start >= 0 && fstat(fd_, &status) == 0 &&
                                      S_ISREG(status.st_mode) && ftruncate(fd_, start) == 0);
    MarkSignalNoteMidLine(!cut);
  }
  // After the last line: a file system that writes late may fail here.
  void Close() {
    if (fd_ < 0) return;
    DisarmSignalNote();
    if (fd_ != STDOUT_FILENO && close(fd_) != 0 && failure_ == noErr) {
      failure_ = ErrorFromErrno(errno);
    }
    fd_ = -1;
  }
  // noErr while every line was written.
  int32_t Failure() const { return failure_; }

 private:
  int fd_ = -1;
  std::mutex lock_;
  std::atomic<int32_t> failure_{noErr};
};

// What every line of one job says of its source and of what was asked.
ReportRecord JobRecord(const PlannedJob& job) {
  const JobSettings& s = job.settings;
  // Every output holds the source's bounds; some are written, some skipped.
  const OutputGeometry& source =
      s.outputs.empty() ? job.skipped.front().geometry : s.outputs.front().geometry;
  ReportRecord r;
  r.input = *s.inputPath;
  r.sourceKnown = job.sourceRead;
  r.sourceWidth = source.storedWidth;
  r.sourceHeight = source.storedHeight;
  if (job.sourceFormat != nullptr) r.sourceCodec = job.sourceFormat->name;
  if (s.upright) r.upright = source.orientation;
  r.metadataCopied = s.copyMetadata;
  r.metadataDropped = LeftOutKinds(s.dropItems, s.keptItems);
  return r;
}

// The record of one output, written, failed or skipped.
ReportRecord OutputRecord(const PlannedJob& job, const JobOutput& output) {
  ReportRecord r = JobRecord(job);
  r.output = output.path;
  r.sizeKnown = job.sourceRead;
  r.width = WrittenWidth(output.geometry);
  r.height = WrittenHeight(output.geometry);
  if (job.settings.cropGiven && Windowed(output.geometry)) {
    r.crop = WindowPlace{output.geometry.windowLeft, output.geometry.windowTop};
  }
  if (job.settings.shrinkOnLoad) r.decodeScale = output.geometry.decodeScale;
  r.placeholderAsked = job.settings.placeholder;
  if (const ImageFormat* format = output.format) {
    r.codec = format->name;
    const int16_t depth = output.exportSettings.depth;
    r.bits = format->keepsDeepSamples && (depth == 48 || depth == 64) ? 16 : 8;
  }
  return r;
}

std::string WithoutNewline(std::string line) {
  if (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

struct BatchRun {
  BatchRun(const BatchPlan& p, bool terminal)
      : plan(p), progress(p.jobs.size(), ShowProgress() && p.manyInputs, terminal) {}
  const BatchPlan& plan;
  ReportSink report;
  BatchProgress progress;
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
    std::vector<ReportRecord> records;
    const JobResult result = RunPlannedJob(job, &records);
    std::string said;  // one line for a failure all outputs share
    for (size_t i = 0; i < records.size(); ++i) {
      if (records[i].message && *records[i].message != said) {
        said = *records[i].message;
        WriteStandardError(said + "\n");
      }
      report.Write(records[i]);
      for (const auto& [index, entry] : job.sameAs) {
        if (index == i) report.Write(records[i]);  // the same file, for this entry too
      }
    }
    if (result.code != noErr) {
      ++failedInputs;
      int32_t none = 0;
      firstCode.compare_exchange_strong(none, result.code);
    }
  }

  void Work() {
    // No input is begun once the report has failed: what it could not list
    // stays whole, and nothing more is written unlisted.
    for (size_t i; report.Failure() == noErr && (i = next++) < plan.jobs.size();) {
      RunJob(plan.jobs[i]);
      progress.InputDone();
    }
  }
};

}  // namespace

JobResult RunPlannedJob(const PlannedJob& job, std::vector<ReportRecord>* records) {
  for (const JobOutput& output : job.settings.outputs) {
    const std::filesystem::path folder = std::filesystem::path(output.path).parent_path();
    std::error_code ec;  // a folder that cannot be made fails the write, which says so
    if (!folder.empty() && output.path != "-") std::filesystem::create_directories(folder, ec);
  }
  const auto start = std::chrono::steady_clock::now();
  JobResult result = RunImageJob(job.settings);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (size_t i = 0; i < job.settings.outputs.size(); ++i) {
    const JobOutput& output = job.settings.outputs[i];
    const OutputResult& done = result.outputs[i];
    ReportRecord r = OutputRecord(job, output);
    r.facts = result.facts;
    r.seconds = seconds;
    r.code = done.code;
    r.placeholder = done.placeholder;
    if (output.windowFromResize) r.crop = done.window;
    if (done.code == noErr) {
      r.chosen = done.chosen;
      struct stat status {};
      if (output.path != "-" && stat(output.path.c_str(), &status) == 0) {
        r.bytes = uint64_t(status.st_size);
      }
    } else {
      r.status = ReportStatus::kFailed;
      r.message = WithoutNewline(
          JobErrorLine(done.code, FileForStage(done.stage, *job.settings.inputPath, output.path)));
    }
    records->push_back(std::move(r));
  }
  return result;
}

// Two: on two cores, 120 JPEGs of 1600x1200 to 256 px take 0.84 s with two
// jobs against 1.13 s with one and 1.06 s with four, and two jobs peak at
// 24.8 MB where two single runs take 2 x 13.4 MB; each job overlaps its own
// decode and encode already, so more jobs only add memory (bench/many_images.sh).
int32_t DefaultJobs() {
  return std::thread::hardware_concurrency() == 1 ? 1 : 2;
}

int32_t RunBatch(const BatchPlan& plan, const BatchOptions& batch) {
  BatchRun run(plan, isatty(STDERR_FILENO) != 0);
  if (const int32_t err = run.report.Open(batch.reportTarget)) {
    WriteStandardError(JobErrorLine(err, *batch.reportTarget));
    return err;
  }
  std::string said;  // two inputs that clash share their line: it is said once
  for (const FailedInput& failed : plan.failed) {
    if (failed.line != said) WriteStandardError(failed.line);
    said = failed.line;
    ReportRecord r;
    r.input = failed.input;
    r.status = ReportStatus::kFailed;
    r.code = failed.code;
    r.message = WithoutNewline(failed.line);
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
  run.progress.Start();
  SetImageJobsAtOnce(int32_t(threads));
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
  run.progress.Finish();
  SetImageJobsAtOnce(1);
  run.report.Close();
  if (const int32_t err = run.report.Failure()) {
    WriteStandardError(JobErrorLine(err, *batch.reportTarget));
    return err;
  }
  if (batch.keepGoing) return noErr;  // the report and the error lines tell of the inputs
  return plan.manyInputs ? run.failedInputs.load() : run.firstCode.load();
}
