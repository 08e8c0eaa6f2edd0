#include "base/cgroup_memory.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

namespace {

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  return parts;
}

bool ListHas(const std::string& list, const std::string& word) {
  const std::vector<std::string> words = Split(list, ',');
  return std::find(words.begin(), words.end(), word) != words.end();
}

// mountinfo writes a space, tab, newline or backslash in a path as \ooo.
std::string Unescape(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      int value = 0;
      const auto [end, ec] = std::from_chars(field.data() + i + 1, field.data() + i + 4, value, 8);
      if (ec == std::errc{} && end == field.data() + i + 4) {
        out += char(value);
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

// A mounted group folder: which hierarchy it shows, from which group down.
struct GroupMount {
  bool version2 = false;
  std::string root;   // the group shown at the mount point
  std::string point;  // where it is mounted
};

std::vector<GroupMount> MemoryMounts(const std::string& mountInfo) {
  std::vector<GroupMount> mounts;
  for (const std::string& line : Split(mountInfo, '\n')) {
    std::istringstream in(line);
    std::vector<std::string> fields{std::istream_iterator<std::string>(in),
                                    std::istream_iterator<std::string>()};
    // id parent device root point options [optional...] - type source superOptions
    const auto dash = std::find(fields.begin(), fields.end(), "-");
    if (fields.size() < 5 || fields.end() - dash < 4) continue;
    const std::string& type = dash[1];
    const bool version2 = type == "cgroup2";
    if (!version2 && !(type == "cgroup" && ListHas(dash[3], "memory"))) continue;
    mounts.push_back({version2, Unescape(fields[3]), Unescape(fields[4])});
  }
  return mounts;
}

// The number a file holds; UINT64_MAX for "max" or anything unreadable.
uint64_t ReadNumber(const std::string& path) {
  const std::string text = ReadWhole(path);
  uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || (end != text.data() + text.size() && *end != '\n')) return UINT64_MAX;
  return value;
}

// The value of "key value" in memory.stat; 0 without it.
uint64_t StatValue(const std::string& path, const std::string& key) {
  std::istringstream in(ReadWhole(path));
  std::string name;
  uint64_t value = 0;
  while (in >> name >> value) {
    if (name == key) return value;
  }
  return 0;
}

// The room a group's limit leaves: the limit less what the group (its
// other processes, and this one so far) already uses beyond its page
// cache, which the kernel reclaims before it kills; UINT64_MAX without one.
uint64_t Room(const std::string& folder, bool version2) {
  const uint64_t limit = ReadNumber(folder + (version2 ? "/memory.max" : "/memory.limit_in_bytes"));
  if (limit == UINT64_MAX) return limit;
  const uint64_t usage =
      ReadNumber(folder + (version2 ? "/memory.current" : "/memory.usage_in_bytes"));
  const uint64_t cache = StatValue(folder + "/memory.stat", version2 ? "file" : "total_cache");
  const uint64_t used = usage == UINT64_MAX || usage < cache ? 0 : usage - cache;
  return limit > used ? limit - used : 0;
}

bool IsUnder(const std::string& path, const std::string& root) {
  return path.compare(0, root.size(), root) == 0 &&
         (path.size() == root.size() || path[root.size()] == '/');
}

// The least room from the group's folder up to the mount point.
uint64_t LeastUpward(const GroupMount& mount, const std::string& group) {
  // A mount of a group outside the process's own path (a container's bind
  // mount, without a group namespace of its own) shows the process's group.
  std::string below;
  if (mount.root == "/") {
    below = group;
  } else if (IsUnder(group, mount.root)) {
    below = group.substr(mount.root.size());
  }
  while (!below.empty() && below.back() == '/') below.pop_back();
  uint64_t lowest = UINT64_MAX;
  for (;;) {
    lowest = std::min(lowest, Room(mount.point + below, mount.version2));
    if (below.empty()) return lowest;
    below.erase(below.rfind('/'));
  }
}

}  // namespace

CgroupSources ProcessCgroupSources() {
  return {ReadWhole("/proc/self/cgroup"), ReadWhole("/proc/self/mountinfo")};
}

uint64_t CgroupMemoryRoomBytes(const CgroupSources& sources) {
  const std::vector<GroupMount> mounts = MemoryMounts(sources.mounts);
  uint64_t lowest = UINT64_MAX;
  for (const std::string& line : Split(sources.groups, '\n')) {
    // hierarchy:controllers:path, the path itself may hold ':'
    const size_t first = line.find(':');
    const size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string group = line.substr(second + 1);
    const bool version2 = line.compare(0, first, "0") == 0 && controllers.empty();
    if (!version2 && !ListHas(controllers, "memory")) continue;
    for (const GroupMount& mount : mounts) {
      if (mount.version2 == version2) lowest = std::min(lowest, LeastUpward(mount, group));
    }
  }
  return lowest;
}
