// "//report": one JSON line per output and per failed input, for scripts
// and cluster jobs to read what happened without parsing the error lines.
// doc/tavrel.1 lists the fields; kReportVersion grows when one changes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/json_writer.h"
#include "driver/job/image_job.h"

constexpr int32_t kReportVersion = 1;

enum class ReportStatus { kOk, kFailed, kSkipped, kInterrupted };

struct ReportRecord {
  std::optional<int64_t> id;          // a worker's job, its first field; none in a report
  std::optional<std::string> input;   // none on the line that says the run was interrupted
  std::optional<std::string> output;  // none for an input that failed before naming one
  ReportStatus status = ReportStatus::kOk;
  int32_t code = 0;
  std::optional<std::string> message;  // the error line, without its newline
  bool sourceKnown = false;
  int32_t sourceWidth = 0;
  int32_t sourceHeight = 0;
  std::string sourceCodec;  // empty: null
  bool sizeKnown = false;
  int32_t width = 0;  // written, after turns
  int32_t height = 0;
  std::string codec;  // empty: null
  int32_t bits = 0;   // a channel; 0: null
  std::optional<uint64_t> bytes;
  std::optional<double> seconds;
  std::optional<int32_t> upright;  // the orientation applied, with "//upright"
  bool metadataCopied = false;     // "/m": kept and dropped say which kinds
  uint32_t metadataDropped = 0;    // DropItem kinds left out of the copy
  // The decode scale's denominator (1, 2, 4 or 8), with "//shrink-on-load".
  std::optional<int32_t> decodeScale;
  JobFacts facts;
  // With "//crop", a fill's window: where it starts in the full resize.
  std::optional<WindowPlace> crop;
  // With "//placeholder": the written output's (pipeline/placeholder.h);
  // null on other lines.
  bool placeholderAsked = false;
  std::optional<Placeholder> placeholder;
  // With "//max-bytes" or "//target-quality", once written: what was chosen.
  std::optional<QualityChoice> chosen;
};

// The line, ending in a newline.
std::string ReportLine(const ReportRecord& record);

// The last line of a report whose run a signal ended: status
// "interrupted", code -128, input, output and every fact null. Outputs
// written after the line before it may exist unlisted.
std::string InterruptedLine();
