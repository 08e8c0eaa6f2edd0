// The signal guard in a child process ended by SIGTERM: every name kept,
// however many, is removed before the process ends with the signal.
#include "stream/temporary_guard.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "test_support.h"

namespace {

// Makes and guards files first..last-1 in folder.
void GuardFiles(const std::filesystem::path& folder, int first, int last) {
  for (int i = first; i < last; ++i) {
    std::string leaf = "t";  // appended: GCC 12 warns wrongly on "t" + string
    leaf += std::to_string(i);
    const std::string name = (folder / leaf).string();
    GuardTemporary(name);
    close(open(name.c_str(), O_CREAT | O_WRONLY, 0600));
  }
}

TEST(TemporaryGuard, RemovesEveryReservedNameAndKeepsThoseGuardedBeforeTheReservation) {
  test::TempDir dir;
  const pid_t pid = fork();
  if (pid == 0) {
    GuardFiles(dir.path(), 0, 10);
    if (ReserveTemporarySlots(150) != noErr) _exit(2);
    GuardFiles(dir.path(), 10, 150);
    ForgetTemporary((dir / "t3").string());  // a name handed back stays
    raise(SIGTERM);
    _exit(1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    left.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(left, std::vector<std::string>{"t3"});
}

}  // namespace
