#include "stream/temporary_guard.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// Written only while no name is kept (guarded is false), read by the
// handler only while one is.
char guardedName[PATH_MAX];
std::atomic<bool> guarded{false};
std::mutex owner;  // who may set guardedName
bool owned = false;

void RemoveAndEnd(int signal) {
  if (guarded.load()) unlink(guardedName);
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

void GuardTemporary(const std::string& name) {
  static std::once_flag installed;
  std::call_once(installed, InstallHandlers);
  std::lock_guard<std::mutex> lock(owner);
  if (owned || name.size() >= sizeof guardedName) return;
  std::memcpy(guardedName, name.c_str(), name.size() + 1);
  owned = true;
  guarded.store(true);
}

void ForgetTemporary(const std::string& name) {
  std::lock_guard<std::mutex> lock(owner);
  if (!owned || name != guardedName) return;
  guarded.store(false);
  owned = false;
}
