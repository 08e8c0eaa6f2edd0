// The temporary file being written, removed when the process is ended by
// SIGINT, SIGTERM, SIGHUP or SIGPIPE (Ctrl-C, timeout(1), a service stop,
// a closed terminal or pipe) before it takes the target's name. The name
// is kept ready where the signal handler, which may only make
// async-signal-safe calls, can unlink it; the process then ends with the
// signal's own status. Signals the caller ignores stay ignored.
#pragma once

#include <cstddef>
#include <string>

#include "base/mac_types.h"

// Room for count names kept at once (64 without it): a run reserves one
// for every output it may be writing at the same time, before it starts,
// since the handler may not allocate. memFullErr when there is no room.
OSErr ReserveTemporarySlots(size_t count);
// Installs the handlers now rather than on the first GuardTemporary: for a
// run that has a last word to say (stream/signal_note.h) before any file.
void InstallTemporaryGuard();
// Keeps name until ForgetTemporary; beyond the reserved number a further
// one is not guarded. The handlers are installed on first use.
void GuardTemporary(const std::string& name);
// Held around the making of a file whose name is guarded, from after
// GuardTemporary: a signal's handler waits until no other thread holds one
// before it removes the names, and a thread that would take one once the
// handler has begun makes nothing, so that no file appears after the
// handler's pass. Nothing but the making may happen under it.
class TemporaryCreation {
 public:
  TemporaryCreation();
  ~TemporaryCreation();
  TemporaryCreation(const TemporaryCreation&) = delete;
  TemporaryCreation& operator=(const TemporaryCreation&) = delete;
};

// After the temporary was renamed or removed: a late signal then unlinks a
// name that no longer exists, which is harmless.
void ForgetTemporary(const std::string& name);
