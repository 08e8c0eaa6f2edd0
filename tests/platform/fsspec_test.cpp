#include "platform/fsspec.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// Runs in a folder and goes back where it was.
class InFolder {
 public:
  explicit InFolder(const fs::path& folder) : saved_(fs::current_path()) {
    fs::current_path(folder);
  }
  ~InFolder() { fs::current_path(saved_); }

 private:
  fs::path saved_;
};

TEST(FSMakeFSSpec, AbsolutePathsAreTakenAsTheyAre) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "a.png", {1});
  FSSpec spec;
  std::string unusual = dir.path().string() + "/./a.png";
  EXPECT_EQ(FSMakeFSSpec(unusual, &spec), noErr);
  EXPECT_EQ(spec.path, unusual);
}

TEST(FSMakeFSSpec, RelativePathsAreTakenAgainstTheCurrentFolder) {
  test::TempDir dir;
  fs::create_directory(dir / "sub");
  test::WriteFileBytes(dir / "sub/a.png", {1});
  std::string real = fs::canonical(dir.path()).string();
  InFolder here(dir.path());
  FSSpec spec;
  EXPECT_EQ(FSMakeFSSpec("sub/a.png", &spec), noErr);
  EXPECT_EQ(spec.path, real + "/sub/a.png");
  EXPECT_EQ(FSMakeFSSpec("../" + dir.path().filename().string() + "/sub", &spec), noErr);
}

TEST(FSMakeFSSpec, AMissingFileIsNotFoundAndStillFillsTheSpec) {
  test::TempDir dir;
  std::string real = fs::canonical(dir.path()).string();
  InFolder here(dir.path());
  FSSpec spec;
  EXPECT_EQ(FSMakeFSSpec("out.jpg", &spec), fnfErr);
  EXPECT_EQ(spec.path, real + "/out.jpg");
  test::WriteFileBytes(dir / "plain", {1});
  EXPECT_EQ(FSMakeFSSpec("plain/below", &spec), fnfErr);
  EXPECT_EQ(FSMakeFSSpec("", &spec), paramErr);
}

TEST(FSMakeFSSpec, LongPathsHaveNoLimitOfTheirOwn) {
  test::TempDir dir;
  fs::path deep = dir.path();
  for (int i = 0; i < 12; ++i) deep /= std::string(40, char('a' + i));
  fs::create_directories(deep);
  test::WriteFileBytes(deep / "image.png", {1});
  std::string path = (deep / "image.png").string();
  ASSERT_GT(path.size(), 500u);
  FSSpec spec;
  EXPECT_EQ(FSMakeFSSpec(path, &spec), noErr);
  EXPECT_EQ(spec.path, path);
}

}  // namespace
