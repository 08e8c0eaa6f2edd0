#include "driver/serve/in_flight.h"

#include <algorithm>

#include "driver/command_line/refusals.h"

std::optional<std::string> InFlight::Admit(int32_t slot, const JobSettings& settings) {
  const std::lock_guard<std::mutex> hold(lock_);
  const size_t before = plan_.files.size();
  AddJobFiles(settings, slot, true, &plan_);
  for (const Meeting& meeting : Meetings(plan_)) {
    if (meeting.second < before || !BetweenInputs(plan_, meeting)) continue;
    std::string line = MeetingLine(plan_, meeting);
    plan_.files.erase(plan_.files.begin() + std::ptrdiff_t(before), plan_.files.end());
    return line;
  }
  return std::nullopt;
}

void InFlight::TakeTurn(uint64_t turn) {
  std::unique_lock<std::mutex> hold(lock_);
  turnPassed_.wait(hold, [this, turn] { return turn_ == turn; });
}

void InFlight::PassTurn() {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    ++turn_;
  }
  turnPassed_.notify_all();
}

void InFlight::Release(int32_t slot) {
  const std::lock_guard<std::mutex> hold(lock_);
  std::erase_if(plan_.files, [slot](const PlannedFile& file) { return file.input == slot; });
}
