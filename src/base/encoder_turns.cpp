#include "base/encoder_turns.h"

#include <condition_variable>
#include <mutex>

#include "base/encoder_turns_seam.h"
#include "base/usable_cores.h"

namespace {

struct Turns {
  std::mutex mutex;
  std::condition_variable freed;
  int32_t running = 0;
  int32_t most = 0;
  int32_t allowed = 0;  // 0: the usable cores
};

Turns& TheTurns() {
  static Turns turns;
  return turns;
}

}  // namespace

HeavyEncoderTurn::HeavyEncoderTurn() {
  Turns& t = TheTurns();
  std::unique_lock<std::mutex> lock(t.mutex);
  const int32_t allowed = t.allowed > 0 ? t.allowed : UsableCores();
  t.freed.wait(lock, [&t, allowed] { return t.running < allowed; });
  ++t.running;
  if (t.running > t.most) t.most = t.running;
}

HeavyEncoderTurn::~HeavyEncoderTurn() {
  Turns& t = TheTurns();
  {
    std::lock_guard<std::mutex> lock(t.mutex);
    --t.running;
  }
  t.freed.notify_one();
}

void SetHeavyEncodersAtOnce(int32_t turns) {
  Turns& t = TheTurns();
  {
    std::lock_guard<std::mutex> lock(t.mutex);
    t.allowed = turns;
  }
  t.freed.notify_all();
}

int32_t MostHeavyEncodersAtOnce() {
  Turns& t = TheTurns();
  std::lock_guard<std::mutex> lock(t.mutex);
  return t.most;
}

void ResetMostHeavyEncodersAtOnce() {
  Turns& t = TheTurns();
  std::lock_guard<std::mutex> lock(t.mutex);
  t.most = 0;
}
