#include "base/stale_temporaries.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <ctime>
#include <mutex>
#include <unordered_map>

#include "base/stale_temporaries_seam.h"

namespace {

// A decimal number of 1 to 19 digits at text[*at], ending at end or at stop.
bool ParseNumber(const std::string& text, size_t* at, char stop, int64_t* value) {
  const size_t begin = *at;
  int64_t n = 0;
  while (*at < text.size() && text[*at] >= '0' && text[*at] <= '9') {
    if (*at - begin >= 18) return false;
    n = n * 10 + (text[*at] - '0');
    ++*at;
  }
  if (*at == begin) return false;
  if (stop != '\0') {
    if (*at >= text.size() || text[*at] != stop) return false;
    ++*at;
  } else if (*at != text.size()) {
    return false;
  }
  *value = n;
  return true;
}

// No process of that id exists (a process of another user still counts as
// running: kill answers EPERM for it).
bool WriterIsGone(int64_t pid) {
  if (pid <= 0 || pid > INT_MAX || pid == getpid()) return false;
  return kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

bool IsStale(int folder, const char* name, int64_t pid) {
  struct stat info;
  if (fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (!S_ISREG(info.st_mode) || info.st_uid != geteuid() || info.st_nlink != 1) return false;
  if (time(nullptr) - info.st_mtime < kStaleTemporarySeconds) return false;
  return WriterIsGone(pid);
}

std::atomic<int64_t> sweeps{0};

}  // namespace

int64_t StaleTemporarySweeps() {
  return sweeps.load(std::memory_order_relaxed);
}

bool ParseTemporaryName(const std::string& name, int64_t* pid) {
  const size_t prefix = std::strlen(kTemporaryPrefix);
  if (name.compare(0, prefix, kTemporaryPrefix) != 0) return false;
  size_t at = prefix;
  int64_t counter = 0;
  int64_t nanoseconds = 0;
  return ParseNumber(name, &at, '-', pid) && ParseNumber(name, &at, '-', &counter) &&
         ParseNumber(name, &at, '\0', &nanoseconds);
}

void RemoveStaleTemporaries(const std::string& folder) {
  sweeps.fetch_add(1, std::memory_order_relaxed);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  DIR* listing = fdopendir(fd);
  if (listing == nullptr) {
    ::close(fd);
    return;
  }
  while (const dirent* entry = readdir(listing)) {
    int64_t pid = 0;
    if (!ParseTemporaryName(entry->d_name, &pid)) continue;
    // Removed relative to the open folder, so that a renamed or replaced
    // path cannot make us remove a file elsewhere.
    if (IsStale(fd, entry->d_name, pid)) unlinkat(fd, entry->d_name, 0);
  }
  closedir(listing);
}

void RemoveStaleTemporariesNowAndThen(const std::string& folder) {
  using Clock = std::chrono::steady_clock;
  static std::mutex lock;
  static std::unordered_map<std::string, Clock::time_point> swept;
  const Clock::time_point now = Clock::now();
  {
    const std::lock_guard<std::mutex> hold(lock);
    const auto last = swept.find(folder);
    if (last != swept.end() && now - last->second < std::chrono::seconds(kStaleTemporarySeconds)) {
      return;
    }
    swept[folder] = now;
  }
  RemoveStaleTemporaries(folder);
}
