#include "driver/command_line/write_plan.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <tuple>

namespace fs = std::filesystem;

namespace {

bool Writes(FileUse use) {
  return use != FileUse::kInput && use != FileUse::kInputList;
}

bool IsOutput(FileUse use) {
  return use == FileUse::kOutput || use == FileUse::kKept;
}

void TakeIdentity(const struct stat& status, FileIdentity* identity) {
  identity->device = uint64_t(status.st_dev);
  identity->inode = uint64_t(status.st_ino);
  identity->regular = S_ISREG(status.st_mode);
  identity->characterDevice = S_ISCHR(status.st_mode);
}

// A standard stream by its descriptor; a closed one is a file of its own.
FileIdentity StreamIdentity(int fd) {
  FileIdentity identity;
  struct stat status;
  if (fstat(fd, &status) == 0) {
    TakeIdentity(status, &identity);
  } else {
    identity.device = UINT64_MAX;
    identity.inode = uint64_t(fd);
  }
  return identity;
}

// A name that is not there: the nearest folder above it that is, and the
// rest of the name below that folder.
FileIdentity NewNameIdentity(const std::string& name) {
  std::error_code ec;
  fs::path path = fs::absolute(name, ec);
  if (ec) path = name;
  path = path.lexically_normal();
  fs::path rest = path.filename();
  fs::path folder = path.parent_path();
  FileIdentity identity;
  for (;;) {
    struct stat status;
    if (stat(folder.c_str(), &status) == 0) {
      TakeIdentity(status, &identity);
      identity.regular = false;
      break;
    }
    if (folder == folder.parent_path() || folder.empty()) break;
    rest = folder.filename() / rest;
    folder = folder.parent_path();
  }
  // Never empty, so never equal to a file that is there.
  identity.rest = rest.empty() ? fs::path("/").string() : rest.string();
  return identity;
}

FileIdentity Resolve(const std::string& name, bool written) {
  if (name == "-") {
    FileIdentity identity = StreamIdentity(written ? STDOUT_FILENO : STDIN_FILENO);
    identity.standardOutput = written;
    return identity;
  }
  struct stat status;
  if (stat(name.c_str(), &status) != 0) return NewNameIdentity(name);
  FileIdentity identity;
  TakeIdentity(status, &identity);
  identity.standardOutput = written && identity == StreamIdentity(STDOUT_FILENO);
  return identity;
}

// The folder an output's temporary is made in: beside the file its name
// leads to, after links.
std::string TemporariesFolder(const std::string& name) {
  char* real = realpath(name.c_str(), nullptr);
  const std::string target = real != nullptr ? std::string(real) : name;
  std::free(real);
  const std::string folder = fs::path(target).parent_path().string();
  return folder.empty() ? std::string(".") : folder;
}

const std::string& InputName(const WritePlan& plan, int32_t input) {
  static const std::string none;
  return input >= 0 && size_t(input) < plan.inputNames.size() ? plan.inputNames[size_t(input)]
                                                              : none;
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

const char* Noun(FileUse use) {
  switch (use) {
    case FileUse::kInput:
      return "input";
    case FileUse::kInputList:
      return "input listing";
    case FileUse::kOutput:
    case FileUse::kKept:
      return "output";
    case FileUse::kTemporaries:
      return "folder of temporaries";
    case FileUse::kReport:
      return "report";
    case FileUse::kDump:
      return "metadata dump";
  }
  return "file";
}

// "the output "o.jpg" of "a.jpg"", "the input listing "l.txt"".
std::string Describe(const WritePlan& plan, const PlannedFile& file) {
  std::string text = std::string("the ") + Noun(file.use) + " " + Quoted(file.name);
  if (file.input >= 0 && file.use != FileUse::kInput) {
    text += " of " + Quoted(InputName(plan, file.input));
  }
  return text;
}

bool MayMeet(const WritePlan& plan, const PlannedFile& a, const PlannedFile& b) {
  if (!Writes(a.use) && !Writes(b.use)) return false;
  if (!(a.identity == b.identity)) return false;
  if (!a.own && !b.own) return false;
  if (a.use == FileUse::kTemporaries && b.use == FileUse::kTemporaries) return false;
  const PlannedFile& read = Writes(a.use) ? b : a;
  const PlannedFile& written = Writes(a.use) ? a : b;
  // Two writers of a device ("/dev/null", a terminal) leave nothing to lose,
  // but for the standard output, whose reader takes one stream.
  if (Writes(read.use)) return !a.identity.characterDevice || a.identity.standardOutput;
  if (!read.identity.regular) return false;
  if (written.use == FileUse::kKept) return false;  // left as it is: the input is safe
  if (written.use == FileUse::kDump && read.use == FileUse::kInput) return false;
  return !(plan.inPlace && written.use == FileUse::kOutput && read.use == FileUse::kInput &&
           written.input == read.input);
}

}  // namespace

void AddFile(WritePlan* plan, FileUse use, const std::string& name, int32_t input, bool own) {
  plan->files.push_back({use, name, input, own, Resolve(name, Writes(use))});
  if (use == FileUse::kInput && input >= 0) {
    if (plan->inputNames.size() <= size_t(input)) plan->inputNames.resize(size_t(input) + 1);
    plan->inputNames[size_t(input)] = name;
  }
  const FileIdentity& written = plan->files.back().identity;
  // Devices, pipes and the standard output are written in place.
  if (use != FileUse::kOutput || name == "-" || (written.rest.empty() && !written.regular)) return;
  const std::string folder = TemporariesFolder(name);
  plan->files.push_back({FileUse::kTemporaries, folder, input, own, Resolve(folder, true)});
}

std::vector<Meeting> Meetings(const WritePlan& plan) {
  // Uses of one file, found by identity; a folder of temporaries is shared
  // by every output in it, so those are compared with the others alone.
  struct Bucket {
    std::vector<size_t> all;
    std::vector<size_t> others;  // not folders of temporaries
  };
  std::map<std::tuple<uint64_t, uint64_t, std::string>, Bucket> buckets;
  std::vector<Meeting> meetings;
  for (size_t j = 0; j < plan.files.size(); ++j) {
    const PlannedFile& file = plan.files[j];
    const FileIdentity& id = file.identity;
    Bucket& bucket = buckets[{id.device, id.inode, id.rest}];
    const bool folder = file.use == FileUse::kTemporaries;
    for (const size_t i : folder ? bucket.others : bucket.all) {
      if (!MayMeet(plan, plan.files[i], file)) continue;
      meetings.push_back({i, j});
      break;
    }
    bucket.all.push_back(j);
    if (!folder) bucket.others.push_back(j);
  }
  return meetings;
}

bool BetweenInputs(const WritePlan& plan, const Meeting& m) {
  const PlannedFile& a = plan.files[m.first];
  const PlannedFile& b = plan.files[m.second];
  const bool inputsOnly = (IsOutput(a.use) || a.use == FileUse::kInput) &&
                          (IsOutput(b.use) || b.use == FileUse::kInput);
  return inputsOnly && a.input != b.input && !a.identity.standardOutput;
}

std::string MeetingLine(const WritePlan& plan, const Meeting& m) {
  const PlannedFile* a = &plan.files[m.first];
  const PlannedFile* b = &plan.files[m.second];
  if (a->use > b->use) std::swap(a, b);  // the image before the report, the report before the dump
  if (a->identity.standardOutput && b->identity.standardOutput && a->use != b->use) {
    const char* image = IsOutput(a->use) ? "image" : Noun(a->use);
    return std::string("The ") + image + " and the " + Noun(b->use) +
           " cannot both go to the standard output\n";
  }
  if (IsOutput(a->use) && IsOutput(b->use)) {
    if (a->input > b->input) std::swap(a, b);  // in listing order, whichever shard
    return "Error: " + Quoted(b->name) + ": written for both " + Quoted(InputName(plan, a->input)) +
           " and " + Quoted(InputName(plan, b->input)) + "\n";
  }
  if (a->use == FileUse::kInput && IsOutput(b->use)) {
    if (a->input == b->input) {
      return "Error: " + Quoted(b->name) +
             ": the output is the input file (//in-place replaces it)\n";
    }
    return "Error: " + Quoted(b->name) + ": the output of " + Quoted(InputName(plan, b->input)) +
           " is the input " + Quoted(a->name) + "\n";
  }
  const PlannedFile* written = Writes(a->use) ? a : b;
  const PlannedFile* other = written == a ? b : a;
  return "Error: " + Quoted(written->name) + ": the " + Noun(written->use) + " is also " +
         Describe(plan, *other) + "\n";
}
