#include "platform/quicktime.h"

#include <mutex>

#include "platform/components_internal.h"
#include "platform/metadata_library.h"
#include "platform/start_count.h"

namespace {

// Starts and stops change the count only under this lock; the operations
// read the count without it, as the program calls them from one thread.
std::mutex& StartStopLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

OSErr StartQuickTime(int32_t /*flags*/) {
  std::lock_guard<std::mutex> hold(StartStopLock());
  const int32_t count = QuickTimeStartCount();
  if (count > 0) {
    SetQuickTimeStartCount(count + 1);
    return noErr;
  }
  // The first start sets up exiv2 and builds the registry; the codec
  // libraries need no process-wide set-up of their own. A failed start
  // leaves the count at 0.
  InitMetaDataLibrary();
  if (OSErr err = BuildComponentRegistry()) return err;
  SetQuickTimeStartCount(1);
  return noErr;
}

void StopQuickTime() {
  std::lock_guard<std::mutex> hold(StartStopLock());
  const int32_t count = QuickTimeStartCount();
  if (count > 1) {
    SetQuickTimeStartCount(count - 1);
    return;
  }
  if (count == 1) CloseAllComponentInstances();
  SetQuickTimeStartCount(0);
}
