// The memory limit of the control group this process runs in: a container's
// or a service's (systemd MemoryMax=), which the kernel enforces by killing
// the process, whatever the machine has. Version 2 keeps it in memory.max,
// version 1 in the memory controller's memory.limit_in_bytes; a group's
// ancestors may hold a lower one, so the least room along the way up
// counts. What a group already uses (memory.current, memory.usage_in_bytes)
// beyond its page cache (memory.stat "file", "total_cache") is no room.
#pragma once

#include <cstdint>
#include <string>

// Where the process's groups and the mounted group folders are listed.
struct CgroupSources {
  std::string groups;  // lines "hierarchy:controllers:path", as /proc/self/cgroup
  std::string mounts;  // lines as /proc/self/mountinfo
};

// The process's own.
CgroupSources ProcessCgroupSources();

// The least room under a memory limit over the process's groups and their
// ancestors as far up as they are mounted, in bytes; UINT64_MAX where no
// limit is set or none can be read.
uint64_t CgroupMemoryRoomBytes(const CgroupSources& sources);
