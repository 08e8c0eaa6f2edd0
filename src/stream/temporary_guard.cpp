#include "stream/temporary_guard.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "stream/signal_note.h"

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// A slot's name is written only while it is not guarded, and read by the
// handler only while it is.
struct Slot {
  std::atomic<bool> guarded{false};
  char name[PATH_MAX];
};

// The slots the handler walks, replaced whole when more are reserved.
struct Table {
  size_t count = 0;
  Slot* slots = nullptr;
};

constexpr size_t kFirstSlots = 64;
Slot firstSlots[kFirstSlots];
Table firstTable{kFirstSlots, firstSlots};
std::atomic<const Table*> current{&firstTable};
std::mutex owner;  // who may set a slot's name or replace the table

// Files being created (TemporaryCreation), and whether a handler has begun.
std::atomic<int> creating{0};
std::atomic<bool> ending{false};
thread_local volatile sig_atomic_t creatingHere = 0;

void RemoveAndEnd(int signal) {
  // Other threads may be creating a guarded file: wait until each has made
  // it (and it is removed below) or stopped before making it. The thread
  // this handler interrupted will not go on.
  ending.store(true);
  while (creating.load() > (creatingHere ? 1 : 0)) {
  }
  const Table* table = current.load();
  for (size_t slot = 0; slot < table->count; ++slot) {
    if (table->slots[slot].guarded.load()) unlink(table->slots[slot].name);
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

// The guarded signals held back in this thread for a moment, so that a
// handler running in it finds the count and this thread's share agreeing.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal : kSignals) sigaddset(&held, signal);
    pthread_sigmask(SIG_BLOCK, &held, &before_);
  }
  ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t before_;
};

}  // namespace

TemporaryCreation::TemporaryCreation() {
  {
    const SignalsHeld held;
    creating.fetch_add(1);
    creatingHere = 1;
    if (!ending.load()) return;
    creating.fetch_sub(1);
    creatingHere = 0;
  }
  // Another thread's handler is ending the process: make nothing more.
  for (;;) pause();
}

TemporaryCreation::~TemporaryCreation() {
  const SignalsHeld held;
  creatingHere = 0;
  creating.fetch_sub(1);
}

OSErr ReserveTemporarySlots(size_t count) {
  std::lock_guard<std::mutex> lock(owner);
  const Table* old = current.load();
  if (count <= old->count) return noErr;
  // Never freed: a handler running in another thread may still walk a
  // table that was replaced. A run reserves once, before its jobs start.
  std::unique_ptr<Slot[]> slots(new (std::nothrow) Slot[count]);
  std::unique_ptr<Table> table(new (std::nothrow) Table{count, slots.get()});
  if (slots == nullptr || table == nullptr) return memFullErr;
  for (size_t slot = 0; slot < old->count; ++slot) {
    if (!old->slots[slot].guarded.load()) continue;
    std::memcpy(slots[slot].name, old->slots[slot].name, sizeof slots[slot].name);
    slots[slot].guarded.store(true);
  }
  slots.release();
  current.store(table.release());
  return noErr;
}

void InstallTemporaryGuard() {
  static std::once_flag installed;
  std::call_once(installed, InstallHandlers);
}

void GuardTemporary(const std::string& name) {
  InstallTemporaryGuard();
  std::lock_guard<std::mutex> lock(owner);
  if (name.size() >= PATH_MAX) return;
  const Table* table = current.load();
  for (size_t slot = 0; slot < table->count; ++slot) {
    Slot& s = table->slots[slot];
    if (s.guarded.load()) continue;
    std::memcpy(s.name, name.c_str(), name.size() + 1);
    s.guarded.store(true);
    return;
  }
}

void ForgetTemporary(const std::string& name) {
  std::lock_guard<std::mutex> lock(owner);
  const Table* table = current.load();
  for (size_t slot = 0; slot < table->count; ++slot) {
    Slot& s = table->slots[slot];
    if (s.guarded.load() && name == s.name) {
      s.guarded.store(false);
      return;
    }
  }
}
