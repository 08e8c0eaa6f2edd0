#include "platform/quicktime.h"

#include <atomic>
#include <mutex>

#include "platform/components_internal.h"
#include "platform/metadata_io/metadata_io.h"

namespace {

// Starts and stops change the count only under this lock; the operations
// read the count without it, as the program calls them from one thread.
std::mutex& StartStopLock() {
  static std::mutex lock;
  return lock;
}

std::atomic<int32_t> startCount{0};

}  // namespace

OSErr StartQuickTime(int32_t /*flags*/) {
  std::lock_guard<std::mutex> hold(StartStopLock());
  if (startCount.load() > 0) {
    startCount.fetch_add(1);
    return noErr;
  }
  // The first start sets up exiv2 and builds the registry; the codec
  // libraries need no process-wide set-up of their own. A failed start
  // leaves the count at 0.
  InitMetaDataLibrary();
  if (OSErr err = BuildComponentRegistry()) return err;
  startCount.store(1);
  return noErr;
}

void StopQuickTime() {
  std::lock_guard<std::mutex> hold(StartStopLock());
  int32_t count = startCount.load();
  if (count > 1) {
    startCount.store(count - 1);
    return;
  }
  if (count == 1) CloseAllComponentInstances();
  startCount.store(0);
}

bool QuickTimeIsBound() {
  return startCount.load() > 0;
}

int32_t QuickTimeStartCount() {
  return startCount.load();
}
