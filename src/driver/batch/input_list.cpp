#include "driver/batch/input_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/errno_error.h"

namespace {

bool Blank(const std::string& line) {
  return line.find_first_not_of(" \t\r") == std::string::npos;
}

// The whole of fd; noErr or the failed read's code.
int32_t ReadAll(int fd, std::string* text) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      text->append(buffer, size_t(n));
    } else if (n == 0) {
      return noErr;
    } else if (errno != EINTR) {
      return ErrorFromErrno(errno);
    }
  }
}

}  // namespace

int32_t ReadInputList(const std::string& file, std::vector<std::string>* lines) {
  std::string text;
  if (file == "-") {
    if (const int32_t err = ReadAll(0, &text)) return err;
  } else {
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return ErrorFromErrno(errno);
    struct stat status {};
    int32_t err = fstat(fd, &status) != 0   ? ErrorFromErrno(errno)
                  : S_ISDIR(status.st_mode) ? int32_t(accessDeniedErr)
                                            : ReadAll(fd, &text);
    close(fd);
    if (err != noErr) return err;
  }
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!Blank(line)) lines->push_back(std::move(line));
    at = end + 1;
  }
  return noErr;
}

std::vector<std::string> ListInputs(const BatchOptions& batch,
                                    const std::vector<std::string>& listed) {
  std::vector<std::string> inputs;
  if (batch.each) {
    inputs = batch.inputWords;
  } else if (!batch.inputWords.empty()) {
    inputs.push_back(batch.inputWords.back());
  }
  inputs.insert(inputs.end(), listed.begin(), listed.end());
  return inputs;
}

bool InShard(size_t position, int32_t index, int32_t count) {
  return position % size_t(count) == size_t(index);
}
