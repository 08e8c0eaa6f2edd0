// The group memory limit found from the process's group list and the mount
// table, over a fake group tree in a temporary folder.
#include "base/cgroup_memory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

// "{T}" in a text stands for the temporary folder.
std::string At(std::string text, const std::string& folder) {
  for (size_t at; (at = text.find("{T}")) != std::string::npos;) text.replace(at, 3, folder);
  return text;
}

TEST(CgroupMemory, TheLeastRoomOnTheWayUpFromTheProcesssGroup) {
  constexpr uint64_t kUnset = UINT64_MAX;
  struct Case {
    const char* what;
    const char* groups;
    const char* mounts;
    std::vector<std::pair<const char*, const char*>> files;  // path under {T}, text
    uint64_t room;
  } cases[] = {
      {"version 2, the group's own less its use beyond the page cache (a mount point with a "
       "space)",
       "0::/svc/app\n",
       "30 23 0:26 / {T}/v\\0402 rw - cgroup2 cgroup2 rw\n",
       {{"v 2/svc/app/memory.max", "62914560\n"},
        {"v 2/svc/app/memory.current", "20971520\n"},
        {"v 2/svc/app/memory.stat", "anon 5242880\nfile 15728640\n"},
        {"v 2/svc/memory.max", "max\n"}},
       62914560 - 5242880},
      {"version 2, a parent's lower one",
       "0::/svc/app\n",
       "30 23 0:26 / {T}/v2 rw - cgroup2 cgroup2 rw\n",
       {{"v2/svc/app/memory.max", "62914560\n"}, {"v2/svc/memory.max", "52428800\n"}},
       52428800},
      {"version 2 in a group namespace: the mount's top",
       "0::/\n",
       "30 23 0:26 / {T}/v2 rw,nosuid shared:4 - cgroup2 cgroup2 rw\n",
       {{"v2/memory.max", "62914560\n"}},
       62914560},
      {"version 1 bind-mounted from the container's group",
       "5:memory:/docker/abc\n0::/docker/abc\n",
       "40 31 0:32 /docker/abc {T}/memory rw - cgroup cgroup rw,memory\n"
       "41 31 0:38 / {T}/unified rw - cgroup2 cgroup2 rw\n",
       {{"memory/memory.limit_in_bytes", "62914560\n"},
        {"memory/memory.usage_in_bytes", "400000000\n"},
        {"memory/memory.stat", "cache 1\nrss 0\ntotal_cache 396000000\ntotal_rss 4000000\n"}},
       62914560 - 4000000},
      {"version 1 with two controllers in one hierarchy",
       "3:cpu,memory:/a\n",
       "40 31 0:32 / {T}/cm rw - cgroup cgroup rw,cpu,memory\n",
       {{"cm/a/memory.limit_in_bytes", "104857600\n"},
        {"cm/memory.limit_in_bytes", "9223372036854771712\n"}},
       104857600},
      {"version 1: only the memory controller's mount counts",
       "4:memory:/a\n3:cpu:/a\n",
       "40 31 0:32 / {T}/cpu rw - cgroup cgroup rw,cpu\n",
       {{"cpu/a/memory.limit_in_bytes", "1000\n"}},
       kUnset},
      {"no limit set anywhere",
       "0::/a\n",
       "30 23 0:26 / {T}/v2 rw - cgroup2 cgroup2 rw\n",
       {{"v2/a/memory.max", "max\n"}},
       kUnset},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    for (const auto& [path, text] : c.files) {
      const std::filesystem::path file = dir / path;
      std::filesystem::create_directories(file.parent_path());
      std::ofstream(file) << text;
    }
    const CgroupSources sources{c.groups, At(c.mounts, dir.path().string())};
    EXPECT_EQ(CgroupMemoryRoomBytes(sources), c.room);
  }
}

}  // namespace
