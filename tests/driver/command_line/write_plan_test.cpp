// Two uses of the run's files, each pair spelled several ways: the pairs
// that lead to one file meet, whatever the words say; the others pass.
#include "driver/command_line/write_plan.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "base/same_file.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

struct Use {
  FileUse use;
  std::string name;
  int32_t input;  // 0 or 1; -1 the run's own
};

struct Case {
  Use first;
  Use second;
  bool meet;
  bool betweenInputs = false;
};

// In a folder with a.jpg, link.jpg (to it), hard.jpg (a hard link to it),
// list.txt, sub/ and subl (to sub).
class WritePlanTable : public ::testing::Test {
 protected:
  void SetUp() override {
    cwd_ = fs::current_path();
    fs::current_path(dir_.path());
    test::WriteFileBytes("a.jpg", {1, 2, 3});
    test::WriteFileBytes("list.txt", {'a', '\n'});
    fs::create_symlink("a.jpg", "link.jpg");
    fs::create_hard_link("a.jpg", "hard.jpg");
    fs::create_directory("sub");
    fs::create_directory_symlink("sub", "subl");
  }
  void TearDown() override { fs::current_path(cwd_); }

  fs::path cwd_;
  test::TempDir dir_;
};

TEST_F(WritePlanTable, PairsThatLeadToOneFileMeet) {
  const int fd = open("a.jpg", O_RDONLY);
  ASSERT_GE(fd, 0);
  const std::string byDescriptor = "/dev/fd/" + std::to_string(fd);
  const std::string byProc = "/proc/self/fd/" + std::to_string(fd);
  const std::string absolute = (dir_.path() / "a.jpg").string();
  std::vector<Case> cases;
  // An output onto its own input, another input, a report onto an input.
  for (const std::string& name :
       {std::string("a.jpg"), std::string("./a.jpg"), std::string("link.jpg"),
        std::string("hard.jpg"), std::string("sub/../a.jpg"), absolute, byDescriptor, byProc}) {
    cases.push_back({{FileUse::kInput, "a.jpg", 0}, {FileUse::kOutput, name, 0}, true});
    cases.push_back({{FileUse::kInput, "a.jpg", 1}, {FileUse::kOutput, name, 0}, true, true});
    cases.push_back({{FileUse::kInput, "link.jpg", 0}, {FileUse::kReport, name, -1}, true});
    cases.push_back({{FileUse::kOutput, "a.jpg", 0}, {FileUse::kDump, name, -1}, true});
    cases.push_back({{FileUse::kKept, "a.jpg", 1}, {FileUse::kOutput, name, 0}, true, true});
    // Read twice, or an existing output left as it is: nothing is lost.
    cases.push_back({{FileUse::kInput, "a.jpg", 0}, {FileUse::kInput, name, 1}, false});
    cases.push_back({{FileUse::kInput, "a.jpg", 0}, {FileUse::kKept, name, 1}, false});
    // The dump's own open refuses the input and goes to the standard output.
    cases.push_back({{FileUse::kInput, "a.jpg", 0}, {FileUse::kDump, name, -1}, false});
  }
  for (const std::string name : {"list.txt", "./list.txt", "sub/../list.txt"}) {
    cases.push_back({{FileUse::kInputList, "list.txt", -1}, {FileUse::kReport, name, -1}, true});
    cases.push_back({{FileUse::kInputList, "list.txt", -1}, {FileUse::kOutput, name, 0}, true});
  }
  // Names not there yet: by the folder they go in, whatever leads to it.
  for (const std::string name : {"sub/n.jpg", "subl/n.jpg", "./sub/./n.jpg", "subl/../sub/n.jpg"}) {
    cases.push_back({{FileUse::kOutput, "sub/n.jpg", 0}, {FileUse::kOutput, name, 1}, true, true});
    cases.push_back({{FileUse::kOutput, "sub/n.jpg", 0}, {FileUse::kReport, name, -1}, true});
    cases.push_back({{FileUse::kOutput, "sub/m.jpg", 0}, {FileUse::kOutput, name, 1}, false});
  }
  for (const std::string name : {"new/x/n.jpg", "./new/x/n.jpg", "new/y/../x/n.jpg"}) {
    cases.push_back(
        {{FileUse::kOutput, "new/x/n.jpg", 0}, {FileUse::kOutput, name, 1}, true, true});
  }
  // The standard output, however it is named: at most one writer.
  for (const std::string name : {"-", "/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
    cases.push_back({{FileUse::kOutput, "-", 0}, {FileUse::kReport, name, -1}, true});
    cases.push_back({{FileUse::kDump, "-", -1}, {FileUse::kOutput, name, 0}, true});
    cases.push_back({{FileUse::kOutput, "-", 0}, {FileUse::kOutput, name, 1}, true});
    cases.push_back({{FileUse::kInput, "-", 0}, {FileUse::kOutput, name, 0}, false});
    cases.push_back({{FileUse::kReport, "r.json", -1}, {FileUse::kOutput, name, 0}, false});
  }
  // A device other than the standard output: nothing to lose.
  if (!NamesStandardOutput("/dev/null")) {
    cases.push_back(
        {{FileUse::kOutput, "/dev/null", 0}, {FileUse::kOutput, "/dev/null", 1}, false});
    cases.push_back(
        {{FileUse::kOutput, "/dev/null", 0}, {FileUse::kReport, "/dev/null", -1}, false});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first.name + " / " + c.second.name);
    WritePlan plan;
    AddFile(&plan, c.first.use, c.first.name, c.first.input, true);
    const size_t second = plan.files.size();
    AddFile(&plan, c.second.use, c.second.name, c.second.input, true);
    std::vector<Meeting> meetings;
    for (const Meeting& m : Meetings(plan)) {
      if (m.first < second && m.second >= second) meetings.push_back(m);
    }
    ASSERT_EQ(meetings.size(), c.meet ? 1u : 0u);
    if (!c.meet) continue;
    EXPECT_EQ(BetweenInputs(plan, meetings[0]), c.betweenInputs);
    const std::string line = MeetingLine(plan, meetings[0]);
    const bool named = line.find('"' + c.first.name + '"') != std::string::npos ||
                       line.find('"' + c.second.name + '"') != std::string::npos;
    EXPECT_TRUE(named || line.find("standard output") != std::string::npos) << line;
  }
  close(fd);
}

// "//in-place" lets an output replace its own input, and no other; a
// shard leaves the pairs of other shards to them.
TEST_F(WritePlanTable, InPlaceAndShardsLeaveTheirPairs) {
  const struct {
    bool inPlace;
    int32_t outputOf;
    bool ownShard;
    bool meet;
  } cases[] = {{true, 0, true, false},
               {true, 1, true, true},
               {false, 0, true, true},
               {false, 1, false, false}};
  for (const auto& c : cases) {
    WritePlan plan;
    plan.inPlace = c.inPlace;
    AddFile(&plan, FileUse::kInput, "a.jpg", 0, c.ownShard);
    AddFile(&plan, FileUse::kOutput, "link.jpg", c.outputOf, c.ownShard);
    EXPECT_EQ(Meetings(plan).size(), c.meet ? 1u : 0u) << c.inPlace << c.outputOf << c.ownShard;
  }
}

}  // namespace
