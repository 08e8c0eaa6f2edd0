// A metadata list filled by hand, for the metadata tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/handle.h"
#include "platform/user_data.h"

namespace test {

using Bytes = std::vector<uint8_t>;

class MetaList {
 public:
  MetaList() { NewUserData(&ud_); }
  ~MetaList() { DisposeUserData(ud_); }
  MetaList(const MetaList&) = delete;
  MetaList& operator=(const MetaList&) = delete;

  UserData get() const { return ud_; }

  void Add(OSType type, const Bytes& bytes) {
    Handle h = NewHandle(0);
    PtrToXHand(bytes.data(), h, bytes.size());
    AddUserData(ud_, h, type);
    DisposeHandle(h);
  }

  // Adds a new item, or with index sets the text of an existing one.
  void AddText(OSType type, const std::string& text, int16_t region = 0, int32_t index = 0) {
    Handle h = NewHandle(0);
    PtrToXHand(text.data(), h, text.size());
    if (index == 0) index = CountUserDataType(ud_, type) + 1;
    AddUserDataText(ud_, h, type, index, region);
    DisposeHandle(h);
  }

  // Item index of type, or nothing when the list has no such item.
  std::optional<Bytes> Item(OSType type, int32_t index = 1) const {
    Handle h = NewHandle(0);
    std::optional<Bytes> result;
    if (GetUserData(ud_, h, type, index) == noErr) {
      result = Bytes(*h, *h + GetHandleSize(h));
    }
    DisposeHandle(h);
    return result;
  }

  std::optional<std::string> Text(OSType type, int16_t region = 0) const {
    Handle h = NewHandle(0);
    std::optional<std::string> result;
    if (GetUserDataText(ud_, h, type, 1, region) == noErr) {
      result = std::string(*h, GetHandleSize(h));
    }
    DisposeHandle(h);
    return result;
  }

 private:
  UserData ud_ = nullptr;
};

// Runs print with a memory stream and returns what it wrote.
template <typename Print>
std::string CaptureOutput(Print print) {
  char* data = nullptr;
  size_t size = 0;
  std::FILE* stream = open_memstream(&data, &size);
  print(stream);
  std::fclose(stream);
  std::string text(data, size);
  std::free(data);
  return text;
}

inline std::string Blanks(size_t count) {
  return std::string(count, ' ');
}

}  // namespace test
