#include "stream/temporary_guard.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "stream/signal_note.h"

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// One slot per job writing at once ("//jobs"); a slot's name is written
// only while it is not guarded, and read by the handler only while it is.
constexpr int kSlots = 64;
char guardedNames[kSlots][PATH_MAX];
std::atomic<bool> guarded[kSlots];
std::mutex owner;  // who may set a slot's name

void RemoveAndEnd(int signal) {
  for (int slot = 0; slot < kSlots; ++slot) {
    if (guarded[slot].load()) unlink(guardedNames[slot]);
  }
  WriteSignalNote();
  // SA_RESETHAND restored the default action, SA_NODEFER left the signal
  // unblocked: raising it ends the process as the signal would have.
  raise(signal);
}

void InstallHandlers() {
  for (int signal : kSignals) {
    struct sigaction old {};
    // Ignored signals stay ignored; nothing else installs handlers.
    if (sigaction(signal, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) ||
        old.sa_handler != SIG_DFL) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = RemoveAndEnd;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    sigaction(signal, &action, nullptr);
  }
}

}  // namespace

void InstallTemporaryGuard() {
  static std::once_flag installed;
  std::call_once(installed, InstallHandlers);
}

void GuardTemporary(const std::string& name) {
  InstallTemporaryGuard();
  std::lock_guard<std::mutex> lock(owner);
  if (name.size() >= PATH_MAX) return;
  for (int slot = 0; slot < kSlots; ++slot) {
    if (guarded[slot].load()) continue;
    std::memcpy(guardedNames[slot], name.c_str(), name.size() + 1);
    guarded[slot].store(true);
    return;
  }
}

void ForgetTemporary(const std::string& name) {
  std::lock_guard<std::mutex> lock(owner);
  for (int slot = 0; slot < kSlots; ++slot) {
    if (guarded[slot].load() && name == guardedNames[slot]) {
      guarded[slot].store(false);
      return;
    }
  }
}
