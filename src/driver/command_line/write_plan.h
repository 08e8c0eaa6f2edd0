// Every file a run reads and every file it writes, recorded once the
// output names are worked out and before any pixel is read, and the one
// check over them: nothing the run writes is a file it reads or a file it
// writes for another use, whatever the spelling ("./a.jpg", links, hard
// links, "/dev/fd/1", "/proc/self/fd/1", "-"); so at most one use writes to
// the standard output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class FileUse : uint8_t {
  kInput,        // an input, read
  kInputList,    // the "//inputs" listing, read
  kOutput,       // an output, written through a temporary renamed over it
  kKept,         // an output that exists and is left as it is ("//skip-existing")
  kTemporaries,  // the folder an output's temporary is made in
  kReport,       // "//report", written in place
  kDump,         // "/M", written in place
};

// Where a name leads: the file after every link; for a name not there yet,
// the nearest folder above it that is there and the rest of the name.
// Two identities are one file when device, inode and rest agree.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  std::string rest;              // empty for a file that is there
  bool regular = false;          // a regular file that is there
  bool characterDevice = false;  // a device: "/dev/null", a terminal
  bool standardOutput = false;   // written, and the file descriptor 1 is open on
  bool operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode && rest == other.rest;
  }
};

struct PlannedFile {
  FileUse use = FileUse::kInput;
  std::string name;    // as the command line or the listing spells it; "-" a standard stream
  int32_t input = -1;  // the input it belongs to, by its place in the listing; -1 the run's own
  bool own = true;     // false: another shard's, recorded for its name alone
  FileIdentity identity;
};

struct WritePlan {
  bool inPlace = false;  // "//in-place": an output may replace its own input
  std::vector<PlannedFile> files;
  std::vector<std::string> inputNames;  // by place, as recorded
};

// Records one use of name, resolved now; an output also records the folder
// its temporary is made in.
void AddFile(WritePlan* plan, FileUse use, const std::string& name, int32_t input, bool own);

// Two uses of one file that must not meet, by their places in plan.files.
struct Meeting {
  size_t first = 0;
  size_t second = 0;
};

// For each use, the first use before it that it meets, in the order the
// uses were added (so n uses of one name give n - 1 lines). Reading alone
// never meets; an output may be its own input under "//in-place"; the dump
// may name an input (it is then refused by its own open and goes to the
// standard output); two writers of a device other than the standard output
// do not meet; a write meets a read only on a regular file (a terminal may
// well be both ends); the folders of
// temporaries are shared by every output in them. Pairs in which neither
// use is this shard's are left to the shard they are in.
std::vector<Meeting> Meetings(const WritePlan& plan);

// Whether the meeting is between two inputs of the run: an output of one
// that is another's input or output. Such a clash fails those two inputs;
// any other meeting refuses the command line.
bool BetweenInputs(const WritePlan& plan, const Meeting& meeting);

// The line that says which two uses meet, ending in a newline.
std::string MeetingLine(const WritePlan& plan, const Meeting& meeting);
