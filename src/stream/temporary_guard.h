// The temporary file being written, removed when the process is ended by
// SIGINT, SIGTERM, SIGHUP or SIGPIPE (Ctrl-C, timeout(1), a service stop,
// a closed terminal or pipe) before it takes the target's name. The name
// is kept ready where the signal handler, which may only make
// async-signal-safe calls, can unlink it; the process then ends with the
// signal's own status. Signals the caller ignores stay ignored.
#pragma once

#include <string>

// Installs the handlers now rather than on the first GuardTemporary: for a
// run that has a last word to say (stream/signal_note.h) before any file.
void InstallTemporaryGuard();
// Keeps name until ForgetTemporary: one for each job writing at once, up to
// 64 (a further one is not guarded). The handlers are installed on first use.
void GuardTemporary(const std::string& name);
// After the temporary was renamed or removed: a late signal then unlinks a
// name that no longer exists, which is harmless.
void ForgetTemporary(const std::string& name);
