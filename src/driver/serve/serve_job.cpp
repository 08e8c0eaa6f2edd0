#include "driver/serve/serve_job.h"

#include <span>
#include <vector>

#include "base/latin1_utf8.h"
#include "driver/batch/batch.h"
#include "driver/command_line/checks.h"
#include "driver/command_line/command_line.h"
#include "driver/command_line/refusals.h"
#include "driver/serve/job_words.h"
#include "stream/piped_input.h"

namespace {

ReportRecord Refused(const std::optional<std::string>& input, int32_t code, std::string why) {
  ReportRecord r;
  r.input = input;
  r.status = ReportStatus::kFailed;
  r.code = code;
  if (!why.empty() && why.back() == '\n') why.pop_back();
  r.message = std::move(why);
  return r;
}

// What the scan said: each message, and a word for what no job does here.
std::string ScanRefusals(const ScanOutcome& scan, const JobSettings& s) {
  std::string said;
  for (const Note& note : scan.notes) {
    // A message a single run only says (an unknown option) fails the job too:
    // the caller sees nothing but the result.
    said += note.kind == NoteKind::kMessage
                ? note.text
                : std::string("Not a job: /?, --help, /V and //version print text\n");
  }
  const BatchOptions& b = scan.batch;
  if (BatchAsked(b) || b.serve) {
    said +=
        "Not in a job: //sizes, //formats, //quality, //each, //inputs, //jobs, //shard, "
        "//skip-existing, //report, //keep-going, //serve (a job writes one output)\n";
  }
  if (s.dumpTarget) said += "Not in a job: /M (the standard output carries the results)\n";
  // Such an input is kept for the process once read: a worker would hand
  // every later job on it the first one's bytes, and the standard input
  // is where the worker's lines come from.
  if (s.inputPath && IsPipedInput(*s.inputPath)) {
    said += "Not in a job: \"" + *s.inputPath + "\", a pipe or device the worker can read once\n";
  }
  return said;
}

// The job's settings checked, its one output named; or the refusal.
bool PlanJob(std::span<const std::string> words, PlannedJob* job, ReportRecord* refusal) {
  JobSettings s = ServeJobDefaults();
  const ScanOutcome scan = ScanWords(words, s);
  std::string said = ScanRefusals(scan, s);
  if (!said.empty()) {
    *refusal = Refused(s.inputPath, paramErr, said);
    return false;
  }
  std::vector<Note> notes;
  InputProbe probe;
  RunChecksForInput(s, {}, notes, &probe);
  if (s.errorCount == 0 && probe.code == 0) CheckOutputTargets(s, notes);
  for (const Note& note : notes) said += note.text;
  if (s.errorCount == 0 && probe.code == 0 && ImageGoesToStandardOutput(s)) {
    said += "Not in a job: an output onto the standard output, which carries the results\n";
  }
  if (!said.empty()) {
    *refusal = Refused(s.inputPath, paramErr, said);
    return false;
  }
  if (probe.code != 0) {
    *refusal = Refused(s.inputPath, probe.code, probe.line);
    return false;
  }
  job->sourceFormat = probe.format;
  job->sourceRead = !probe.unread;
  job->settings = std::move(s);
  return true;
}

// The line's turn at the checks, held until it is admitted or refused.
class CheckingTurn {
 public:
  CheckingTurn(InFlight* inFlight, uint64_t turn) : inFlight_(inFlight) {
    inFlight_->TakeTurn(turn);
  }
  ~CheckingTurn() { Pass(); }
  CheckingTurn(const CheckingTurn&) = delete;
  CheckingTurn& operator=(const CheckingTurn&) = delete;
  void Pass() {
    if (!held_) return;
    held_ = false;
    inFlight_->PassTurn();
  }

 private:
  InFlight* inFlight_;
  bool held_ = true;
};

ReportRecord RunLine(const JobLine& line, int32_t slot, InFlight* inFlight) {
  CheckingTurn turn(inFlight, line.turn);
  if (line.tooLong) {
    return Refused(std::nullopt, paramErr,
                   "Malformed job line: longer than " + std::to_string(kLongestJobLine) + " bytes");
  }
  const auto bytes =
      std::span(reinterpret_cast<const uint8_t*>(line.text.data()), line.text.size());
  if (!IsValidUtf8(bytes)) return Refused(std::nullopt, paramErr, "Malformed job line: not UTF-8");
  std::vector<std::string> words;
  std::string why;
  if (!SplitJobLine(line.text, &words, &why)) return Refused(std::nullopt, paramErr, why);
  PlannedJob job;
  ReportRecord record;
  if (!PlanJob(words, &job, &record)) return record;
  if (std::optional<std::string> clash = inFlight->Admit(slot, job.settings)) {
    return Refused(job.settings.inputPath, dupFNErr, *clash);
  }
  turn.Pass();
  std::vector<ReportRecord> records;
  RunPlannedJob(job, &records);
  inFlight->Release(slot);
  return std::move(records.front());
}

}  // namespace

JobSettings ServeJobDefaults() {
  JobSettings s;
  s.limits = ServiceLimits();  // a job's own //limit-* and //timeout words replace these
  return s;
}

std::string RunJobLine(const JobLine& line, int32_t slot, InFlight* inFlight) {
  ReportRecord record = RunLine(line, slot, inFlight);
  record.id = line.id;
  return ReportLine(record);
}
