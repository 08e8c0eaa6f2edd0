// exiftool's reading of a file, for comparing with ours.
#include <sstream>

#include "metadata_io_test_util.h"

namespace test {

namespace {

std::vector<std::string> GroupArgs(const std::vector<std::string>& groups) {
  std::vector<std::string> args;
  for (const std::string& g : groups) args.push_back("-" + g + ":all");
  return args;
}

// The JSON string or number that starts at text[at] (after the blanks).
std::string JsonScalar(const std::string& text, size_t at) {
  while (at < text.size() && text[at] == ' ') ++at;
  if (at >= text.size()) return "";
  if (text[at] != '"') {
    size_t end = text.find_first_of(",\n", at);
    return text.substr(at, end == std::string::npos ? std::string::npos : end - at);
  }
  std::string out;
  for (size_t i = at + 1; i < text.size() && text[i] != '"'; ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    if (c == 'n') {
      out += '\n';
    } else if (c == 't') {
      out += '\t';
    } else if (c == 'u' && i + 4 < text.size()) {
      out += char(std::stoi(text.substr(i + 1, 4), nullptr, 16));  // ASCII range only
      i += 4;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::vector<ExifToolTag> ExifToolTags(const std::filesystem::path& path,
                                      const std::vector<std::string>& groups) {
  std::vector<std::string> argv = {"exiftool", "-j", "-n", "-G1:6", "-D", "-a", "-u"};
  for (const std::string& arg : GroupArgs(groups)) argv.push_back(arg);
  argv.push_back(path.string());
  const RunResult run = RunProgram(argv);
  std::vector<ExifToolTag> tags;
  std::istringstream lines(run.out);
  std::string line;
  // Each tag is three lines: "G:F:Name": {, "id": N, and "val": V.
  while (std::getline(lines, line)) {
    const size_t open = line.find("\": {");
    if (open == std::string::npos) continue;
    const std::string key = line.substr(line.find('"') + 1, open - line.find('"') - 1);
    ExifToolTag tag;
    const size_t first = key.find(':'), second = key.find(':', first + 1);
    if (second == std::string::npos) continue;
    tag.group = key.substr(0, first);
    tag.format = key.substr(first + 1, second - first - 1);
    tag.name = key.substr(second + 1);
    std::string idLine, valueLine;
    std::getline(lines, idLine);
    std::getline(lines, valueLine);
    const size_t idAt = idLine.find("\"id\":");
    const size_t valueAt = valueLine.find("\"val\":");
    if (idAt == std::string::npos || valueAt == std::string::npos) continue;
    tag.id = std::stoll(JsonScalar(idLine, idAt + 5));
    tag.value = JsonScalar(valueLine, valueAt + 6);
    tags.push_back(tag);
  }
  return tags;
}

std::vector<std::string> ExifToolLines(const std::filesystem::path& path,
                                       const std::vector<std::string>& groups) {
  std::vector<std::string> argv = {"exiftool", "-args", "-n", "-G1:6", "-a", "-u"};
  for (const std::string& arg : GroupArgs(groups)) argv.push_back(arg);
  argv.push_back(path.string());
  std::vector<std::string> lines;
  std::istringstream out(RunProgram(argv).out);
  for (std::string line; std::getline(out, line);) lines.push_back(line);
  return lines;
}

std::string ExifToolValue(const std::filesystem::path& path, const std::string& tag) {
  std::string out = RunProgram({"exiftool", "-s3", "-n", "-" + tag, path.string()}).out;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

}  // namespace test
