// Many inputs and many sizes in one run, against single runs of the real
// program: the same bytes, names from the template, refusals before
// anything is written, failures that stay with their input.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "png_files.h"
#include "test_support.h"

namespace {

using test::RunResult;
using test::RunTavrel;

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
  }
  return lines;
}

// A folder with a/p.png (40 x 30), b/p.png and b/q.png (30 x 40), in which
// the program runs.
class BatchRun : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_ / "a");
    std::filesystem::create_directories(dir_ / "b");
    ASSERT_TRUE(test::WritePng(dir_ / "a/p.png", test::MakeTestPattern(40, 30, 8, 4)));
    ASSERT_TRUE(test::WritePng(dir_ / "b/p.png", test::MakeTestPattern(30, 40, 8, 3)));
    ASSERT_TRUE(test::WritePng(dir_ / "b/q.png", test::MakeTestPattern(30, 40, 16, 3)));
  }
  RunResult Run(const std::vector<std::string>& args) {
    return RunTavrel(args, dir_.path().string());
  }
  std::vector<uint8_t> Bytes(const std::string& name) { return test::ReadFileBytes(dir_ / name); }
  bool Exists(const std::string& name) { return std::filesystem::exists(dir_ / name); }
  // The single run's output, written to single.png.
  std::vector<uint8_t> Single(std::vector<std::string> args) {
    args.insert(args.end(), {"/o", "single.png"});
    const RunResult r = Run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return Bytes("single.png");
  }

  test::TempDir dir_;
};

TEST_F(BatchRun, EveryOutputIsTheSingleRunsBytes) {
  const std::vector<std::string> common = {"/c", "png", "/r", "90", "//premultiply"};
  struct Case {
    std::string entry;
    std::vector<std::string> single;
    std::string name;  // {w}x{h}: the written size, after the turn
  };
  const Case cases[] = {
      {"20", {"/w", "20"}, "15x20"},
      {"18w", {"/w", "18"}, "14x18"},
      {"x9", {"/h", "9"}, "9x12"},
      {"17x9", {"/w", "17", "/h", "9"}, "9x17"},
      {"16x16:fit", {"//fit", "16", "16"}, "12x16"},
      {"16x10:fill", {"//fill", "16", "10"}, "10x16"},
  };
  std::string list;
  for (const Case& c : cases) list += (list.empty() ? "" : ",") + c.entry;
  std::vector<std::string> args = common;
  args.insert(args.end(), {"//sizes", list, "/o", "out/{name}-{w}x{h}.png", "a/p.png"});
  const RunResult r = Run(args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  for (const Case& c : cases) {
    std::vector<std::string> single = common;
    single.insert(single.end(), c.single.begin(), c.single.end());
    single.push_back("a/p.png");
    EXPECT_EQ(Bytes("out/p-" + c.name + ".png"), Single(single)) << c.entry;
  }

  // Many inputs, two at a time, and a listing: each as its own single run.
  const RunResult each = Run({"//each", "//jobs", "2", "/w", "10", "/c", "png", "/o",
                              "each/{dir}/{name}.png", "a/p.png", "b/p.png", "b/q.png"});
  ASSERT_EQ(each.status, 0) << each.err;
  std::ofstream(dir_ / "list") << "b/q.png\n\n  \nb/p.png\n";
  const RunResult listed = Run({"//inputs", "list", "/w", "10", "/c", "png", "/o", "{name}.png"});
  ASSERT_EQ(listed.status, 0) << listed.err;
  for (const std::string input : {"a/p.png", "b/p.png", "b/q.png"}) {
    const std::vector<uint8_t> single = Single({"/w", "10", "/c", "png", input});
    EXPECT_EQ(Bytes("each/" + input), single) << input;
    if (input != "a/p.png") {
      EXPECT_EQ(Bytes(input.substr(2)), single) << input;
    }
  }
}

// Jobs side by side print their progress lines whole, each one write: a line
// torn by another job's matches none of the forms. With the standard error
// not a terminal, each input done adds a plain line counting it, in order,
// the last one with the time the batch took.
TEST_F(BatchRun, ProgressLinesOfJobsSideBySideStayWhole) {
  std::vector<std::string> args = {"//each", "//jobs", "2",   "/v", "/w",
                                   "10",     "/c",     "png", "/o", "out/{dir}/{name}.png"};
  std::multiset<std::string> read, written;
  for (int i = 0; i < 40; ++i) {
    const std::string input = "c/" + std::to_string(i) + ".png";
    std::filesystem::create_directories(dir_ / "c");
    std::filesystem::copy_file(dir_ / "b/q.png", dir_ / input);
    args.push_back(input);
    read.insert(input);
    written.insert("out/c/" + std::to_string(i) + ".png");
  }
  const RunResult r = Run(args);
  ASSERT_EQ(r.status, 0) << r.err;
  // The name between the quotes of a line that starts with verb.
  auto quoted = [](const std::string& line, const std::string& verb, std::string* name) {
    const std::string head = verb + " \"";
    if (line.size() <= head.size() || !StartsWith(line, head) || line.back() != '"') return false;
    *name = line.substr(head.size(), line.size() - head.size() - 1);
    return true;
  };
  std::multiset<std::string> sawRead, sawWritten;
  int done = 0;
  for (const std::string& line : Lines(r.err)) {
    std::string name;
    const std::string counted = std::to_string(done + 1) + "/40 inputs done";
    if (quoted(line, "Reading", &name)) {
      sawRead.insert(name);
    } else if (quoted(line, "Writing", &name)) {
      sawWritten.insert(name);
    } else if (StartsWith(line, counted)) {
      ++done;
      const std::string rest = line.substr(counted.size());
      EXPECT_TRUE(done == 40 ? StartsWith(rest, " in ") : StartsWith(rest, ", about ")) << line;
      EXPECT_EQ(line.back(), done == 40 ? 's' : 't') << line;
    } else {
      ASSERT_EQ(line, "Resizing 30x40 to 10x13") << r.err;
    }
  }
  EXPECT_EQ(sawRead, read);
  EXPECT_EQ(sawWritten, written);
  EXPECT_EQ(done, 40);
}

// Every size in every codec from one reading: each output is the bytes of
// the single run with that size and codec, alpha kept or flattened as that
// run does it, and the report names each output's codec.
TEST_F(BatchRun, FormatsTimesSizesAreTheSingleRunsBytes) {
  const struct {
    std::string entry, name;
    std::vector<std::string> single;
  } sizes[] = {{"20", "20", {"/w", "20"}}, {"16x16:fill", "16x16-fill", {"//fill", "16", "16"}}};
  const struct {
    std::string ext, codecName;
    std::vector<std::string> single;
  } codecs[] = {{"jpg", "JPEG", {"/c", "jpeg", "/q", "90"}},
                {"webp", "WebP", {"/c", "webp", "/q", "60"}},
                {"avif", "AVIF", {"/c", "avif"}},  // the encoders that take turns
                {"png", "PNG", {"/c", "png"}}};    // "auto": the sources are PNG
  const RunResult r = Run({"//each", "//web", "//formats", "jpg,webp,avif,auto", "//quality",
                           "jpeg=90,webp=60", "//sizes", "20,16x16:fill", "//report", "-", "/o",
                           "out/{dir}/{name}-{size}.{ext}", "a/p.png", "b/q.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out).size(), 2 * std::size(sizes) * std::size(codecs));
  for (const std::string dir : {"a", "b"}) {
    for (const auto& size : sizes) {
      for (const auto& codec : codecs) {
        const std::string name =
            "out/" + dir + "/" + (dir == "a" ? "p-" : "q-") + size.name + "." + codec.ext;
        std::vector<std::string> args = {"//web"};
        args.insert(args.end(), codec.single.begin(), codec.single.end());
        args.insert(args.end(), size.single.begin(), size.single.end());
        args.push_back(dir == "a" ? "a/p.png" : "b/q.png");
        EXPECT_EQ(Bytes(name), Single(args)) << name;
        EXPECT_NE(r.out.find("\"output\":\"" + name + "\",\"status\":\"ok\""), std::string::npos);
        const size_t line = r.out.find("\"output\":\"" + name + "\"");
        EXPECT_NE(r.out.find("\"codec\":\"" + codec.codecName + "\"", line), std::string::npos);
      }
    }
  }
}

TEST_F(BatchRun, RefusalsComeBeforeAnythingIsWritten) {
  struct Case {
    std::vector<std::string> args;
    std::string firstLine;
    int status;
  };
  const Case cases[] = {
      {{"//sizes", "8,x8", "/o", "out/{name}.jpg", "a/p.png"},
       "Error: \"out/p.jpg\": written for both \"a/p.png\" and \"a/p.png\"",
       1},
      {{"//each", "/w", "8", "/o", "out/{stem}.jpg", "a/p.png"},
       "Error: \"out/{stem}.jpg\": unknown placeholder {stem} (known: {dir} {name} {file} "
       "{srcext} {ext} {w} {h} {size})",
       1},
      {{"//each", "/w", "8", "/o", "out/{w}.jpg", "a/p.png", "b/p.png"},
       "Error: \"out/{w}.jpg\": every input would write this name (no {name}, {file} or {dir})",
       1},
      {{"//each", "/w", "8", "/o", "out/{size}.jpg", "a/p.png"},
       "Error: \"out/{size}.jpg\": {size} in an output name needs //sizes",
       1},
      {{"//sizes", "0,-5,abc,,8,9x,x,7:fit,w,0w,8x8w", "/o", "out/{w}.jpg", "a/p.png"},
       "Invalid argument for flag \"-sizes\": \"0\"",
       11},  // ten entries, and then no size at all
      {{"//sizes", "8", "/w", "9", "/o", "out/{w}.jpg", "a/p.png"},
       "Redundant size specification with //sizes and another size",
       1},
      {{"//each", "//jobs", "0", "/w", "8", "/o", "out/{name}.jpg", "a/p.png"},
       "Invalid argument for flag \"-jobs\": \"0\"",
       1},
      {{"//shard", "3/3", "//each", "/w", "8", "/o", "out/{name}.jpg", "a/p.png"},
       "Invalid argument for flag \"-shard\": \"3/3\"",
       1},
      {{"//shard", "1", "//each", "/w", "8", "/o", "out/{name}.jpg", "a/p.png"},
       "Invalid argument for flag \"-shard\": \"1\"",
       1},
      {{"//inputs", "missing.txt", "/w", "8", "/o", "out/{name}.jpg"},
       "Error: \"missing.txt\": file not found (-43)",
       1},
      {{"//inputs", "a", "/w", "8", "/o", "out/{name}.jpg"},
       "Error \"a\": access denied (-5000)",
       1},
      {{"//report", "-", "/w", "8", "/o", "-", "a/p.png"},
       "The image and the report cannot both go to the standard output",
       1},
      {{"//report", "/dev/fd/1", "/w", "8", "/o", "-", "a/p.png"},
       "The image and the report cannot both go to the standard output",
       1},
      {{"//report", "/proc/self/fd/1", "/w", "8", "/o", "-", "a/p.png"},
       "The image and the report cannot both go to the standard output",
       1},
      {{"//report", "./a/p.png", "/w", "8", "/o", "out/p.jpg", "a/p.png"},
       "Error: \"./a/p.png\": the report is also the input \"a/p.png\"",
       1},
      {{"//inputs", "list", "//report", "b/../list", "/w", "8", "/o", "out/{name}.jpg"},
       "Error: \"b/../list\": the report is also the input listing \"list\"",
       1},
      {{"//formats", "webp,bmpx", "/w", "8", "/o", "out/{name}.{ext}", "a/p.png"},
       "Invalid argument for flag \"-formats\": \"bmpx\"",
       1},
      {{"//formats", "jpg,webp,jpeg", "/w", "8", "/o", "out/{name}.{ext}", "a/p.png"},
       "Invalid argument for flag \"-formats\": \"jpeg\"",
       1},
      {{"//formats", "webp", "//quality", "webp=50,jpeg=70", "/w", "8", "/o", "out/{name}.{ext}",
        "a/p.png"},
       "//quality names jpg, which //formats does not list",
       1},
      {{"//formats", "webp", "//quality", "webp=101", "/w", "8", "/o", "out/{name}.{ext}",
        "a/p.png"},
       "Invalid argument for flag \"-quality\": \"webp=101\"",
       1},
      {{"//quality", "jpeg=70", "/w", "8", "/o", "out/p.jpg", "a/p.png"},
       "//quality names jpg, which //formats does not list",
       1},
      {{"//each", "/w", "8", "/o", "out/{name}.{ext}", "a/p.png"},
       "Error: \"out/{name}.{ext}\": {ext} in an output name needs //formats",
       1},
      {{"//formats", "webp", "/c", "png", "/w", "8", "/o", "out/{name}.{ext}", "a/p.png"},
       "Redundant codec choice with //formats and /c",
       1},
      {{"//formats", "webp,avif", "/m", "/w", "8", "/o", "out/{name}.{ext}", "a/p.png"},
       "//formats with /m: AVIF is written upright; add //upright",
       1},
      {{"//report", "out/p.jpg", "/w", "8", "/o", "out/p.jpg", "a/p.png"},
       "Error: \"out/p.jpg\": the output is also the report \"out/p.jpg\"",
       1},
  };
  test::WriteFileBytes(dir_ / "list", {'a', '/', 'p', '.', 'p', 'n', 'g', '\n'});
  const std::vector<uint8_t> input = Bytes("a/p.png"), listing = Bytes("list");
  for (const Case& c : cases) {
    const RunResult r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << c.firstLine;
    EXPECT_TRUE(StartsWith(r.err, c.firstLine + "\n")) << r.err.substr(0, 300);
    EXPECT_NE(r.err.find("Usage: "), std::string::npos) << c.firstLine;
    EXPECT_EQ(r.out, "") << c.firstLine;
    EXPECT_FALSE(Exists("out")) << c.firstLine;
    EXPECT_EQ(Bytes("a/p.png"), input) << c.firstLine;
    EXPECT_EQ(Bytes("list"), listing) << c.firstLine;
  }
  // Without the batch options the output name is taken as it stands.
  const RunResult literal = Run({"/w", "8", "/c", "png", "/o", "{name}.png", "a/p.png"});
  EXPECT_EQ(literal.status, 0) << literal.err;
  EXPECT_TRUE(Exists("{name}.png"));
}

TEST_F(BatchRun, ADamagedInputFailsAloneAndIsReported) {
  test::WriteFileBytes(dir_ / "b/bad.png", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0});
  const RunResult single = Run({"/w", "8", "/o", "single.jpg", "b/bad.png"});
  ASSERT_NE(single.status, 0);
  const std::string line = Lines(single.err).front();
  const RunResult r = Run({"//each", "/w", "8", "/o", "{dir}/{name}.jpg", "//report", "-",
                           "a/p.png", "b/bad.png", "b/q.png"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, line + "\n");
  EXPECT_TRUE(Exists("a/p.jpg"));
  EXPECT_TRUE(Exists("b/q.jpg"));
  EXPECT_FALSE(Exists("b/bad.jpg"));
  const std::vector<std::string> report = Lines(r.out);
  ASSERT_EQ(report.size(), 3u) << r.out;
  int failed = 0;
  for (const std::string& json : report) {
    if (json.find("\"input\":\"b/bad.png\"") == std::string::npos) {
      EXPECT_NE(json.find("\"status\":\"ok\""), std::string::npos) << json;
      continue;
    }
    ++failed;
    EXPECT_NE(json.find("\"status\":\"failed\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"output\":null"), std::string::npos) << json;
    EXPECT_NE(json.find("\"code\":" + line.substr(line.rfind(' ') + 1)), std::string::npos) << json;
  }
  EXPECT_EQ(failed, 1);
}

// Spark's RDD.pipe and the like: input names in on the standard input,
// one JSON line per output back on the standard output.
TEST_F(BatchRun, InputsFromAPipeGiveReportLinesOnTheStandardOutput) {
  const RunResult r =
      test::RunProgram({"sh", "-c",
                        "printf 'a/p.png\\n\\nb/q.png\\n' | \"$0\" //inputs - //report - /w 8 "
                        "/c png /o 'piped/{name}.png'",
                        TAVREL_BINARY},
                       dir_.path().string());
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> report = Lines(r.out);
  ASSERT_EQ(report.size(), 2u) << r.out;
  std::set<std::string> outputs;
  for (const std::string& json : report) {
    EXPECT_TRUE(StartsWith(json, "{\"version\":1,\"input\":")) << json;
    EXPECT_NE(json.find("\"status\":\"ok\""), std::string::npos) << json;
    const size_t at = json.find("\"output\":\"") + 10;
    outputs.insert(json.substr(at, json.find('"', at) - at));
  }
  EXPECT_EQ(outputs, (std::set<std::string>{"piped/p.png", "piped/q.png"}));
  EXPECT_TRUE(Exists("piped/p.png") && Exists("piped/q.png"));
}

TEST_F(BatchRun, ShardsTakeEveryInputExactlyOnce) {
  std::ofstream list(dir_ / "list");
  for (int i = 0; i < 7; ++i) {
    std::filesystem::copy_file(dir_ / "a/p.png", dir_ / ("in" + std::to_string(i) + ".png"));
    list << "in" << i << ".png\n";
  }
  list.close();
  std::multiset<std::string> written;
  for (int shard = 0; shard < 3; ++shard) {
    const RunResult r = Run({"//inputs", "list", "//shard", std::to_string(shard) + "/3", "/w", "4",
                             "/o", "s{name}.jpg", "//report", "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string& json : Lines(r.out)) {
      const size_t at = json.find("\"input\":\"") + 9;
      written.insert(json.substr(at, json.find('"', at) - at));
    }
  }
  std::multiset<std::string> all;
  for (int i = 0; i < 7; ++i) all.insert("in" + std::to_string(i) + ".png");
  EXPECT_EQ(written, all);
}

TEST_F(BatchRun, SkipExistingLeavesAnOutputAloneAndSaysSo) {
  test::WriteFileBytes(dir_ / "p.jpg", {'o', 'l', 'd'});
  const RunResult r = Run({"//each", "//skip-existing", "/w", "8", "/o", "{name}.jpg", "//report",
                           "report.json", "a/p.png", "b/q.png"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Bytes("p.jpg"), (std::vector<uint8_t>{'o', 'l', 'd'}));
  EXPECT_TRUE(Exists("q.jpg"));
  const std::vector<uint8_t> report = Bytes("report.json");
  const std::string text(report.begin(), report.end());
  EXPECT_NE(text.find("\"input\":\"a/p.png\",\"output\":\"p.jpg\",\"status\":\"skipped\""),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\"input\":\"b/q.png\",\"output\":\"q.jpg\",\"status\":\"ok\""),
            std::string::npos)
      << text;
}

// Files that two inputs both claim, or one input's output that is another
// input: those inputs fail alone, each line naming both, and nothing of
// theirs is written; the rest are. Entries of one input that come out the
// same write one file, reported for each.
TEST_F(BatchRun, ClashesFailTheInputsConcernedAlone) {
  std::filesystem::copy_file(dir_ / "b/q.png", dir_ / "a/px.png");
  const std::vector<uint8_t> px = Bytes("a/px.png");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string firstLine;
    std::multiset<std::string> failed;  // inputs
    std::multiset<std::string> written;
  };
  const Case cases[] = {
      {{"//each", "/w", "8", "/o", "out/{name}.jpg", "a/p.png", "b/p.png", "b/q.png"},
       2,
       "Error: \"out/p.jpg\": written for both \"a/p.png\" and \"b/p.png\"",
       {"a/p.png", "b/p.png"},
       {"out/q.jpg"}},
      {{"//each", "/w", "8", "/c", "png", "/o", "{dir}/{name}x.png", "a/p.png", "a/px.png",
        "b/q.png"},
       2,
       "Error: \"a/px.png\": the output of \"a/p.png\" is the input \"a/px.png\"",
       {"a/p.png", "a/px.png"},
       {"b/qx.png"}},
      {{"//each", "//no-enlarge", "//sizes", "8,40,60", "/c", "png", "/o", "out/{name}-{w}.png",
        "a/p.png"},
       0,
       "",
       {},
       {"out/p-8.png", "out/p-40.png", "out/p-40.png"}},
      // Srcset widths above the source's are named by the width written: one file.
      {{"//each", "//no-enlarge", "//sizes", "8w,40w,60w,16x16:fill", "/c", "png", "/o",
        "out/{name}-{size}.png", "a/p.png"},
       0,
       "",
       {},
       {"out/p-8w.png", "out/p-40w.png", "out/p-40w.png", "out/p-16x16-fill.png"}},
      // One name in two codecs: {name} alone clashes, {file} and {srcext} tell them apart.
      {{"//each", "//sizes", "8,8x8:fill", "/c", "png", "/o", "out/{name}-{size}.png",
        "c/IMG_1.png", "c/IMG_1.jpg"},
       2,
       "Error: \"out/IMG_1-8.png\": written for both \"c/IMG_1.png\" and \"c/IMG_1.jpg\"",
       {"c/IMG_1.png", "c/IMG_1.jpg"},
       {}},
      {{"//each", "//sizes", "8,8x8:fill", "/c", "png", "/o", "out/{file}-{size}.png",
        "c/IMG_1.png", "c/IMG_1.jpg"},
       0,
       "",
       {},
       {"out/IMG_1.png-8.png", "out/IMG_1.png-8x8-fill.png", "out/IMG_1.jpg-8.png",
        "out/IMG_1.jpg-8x8-fill.png"}},
      {{"//each", "/w", "8", "/c", "png", "/o", "out/{name}_{srcext}.png", "c/IMG_1.png",
        "c/IMG_1.jpg"},
       0,
       "",
       {},
       {"out/IMG_1_png.png", "out/IMG_1_jpg.png"}},
  };
  std::filesystem::create_directories(dir_ / "c");
  std::filesystem::copy_file(dir_ / "a/p.png", dir_ / "c/IMG_1.png");
  ASSERT_EQ(Run({"/w", "40", "/c", "jpeg", "/o", "c/IMG_1.jpg", "a/p.png"}).status, 0);
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"//report", "-"});
    const RunResult r = Run(args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), c.firstLine);
    EXPECT_EQ(r.err.find("Usage: "), std::string::npos);
    std::multiset<std::string> failed, written;
    for (const std::string& json : Lines(r.out)) {
      const size_t input = json.find("\"input\":\"") + 9, output = json.find("\"output\":\"");
      if (json.find("\"status\":\"failed\"") != std::string::npos) {
        failed.insert(json.substr(input, json.find('"', input) - input));
      } else if (output != std::string::npos) {
        written.insert(json.substr(output + 10, json.find('"', output + 10) - output - 10));
      }
    }
    EXPECT_EQ(failed, c.failed) << r.out;
    EXPECT_EQ(written, c.written) << r.out;
    for (const std::string& name : written) EXPECT_TRUE(Exists(name)) << name;
    std::filesystem::remove_all(dir_ / "out");
  }
  EXPECT_EQ(Bytes("a/px.png"), px);
  EXPECT_FALSE(Exists("a/pxx.png") || Exists("b/px.png"));

  // The second run of a sizes line, its thumbnails now among the inputs.
  const std::vector<std::string> sizes = {
      "//each", "//sizes", "8,16", "/c", "png", "/o", "{dir}/{name}-{w}.png"};
  std::vector<std::string> first = sizes, second = sizes;
  first.insert(first.end(), {"b/q.png"});
  ASSERT_EQ(Run(first).status, 0);
  const std::vector<uint8_t> thumbnail = Bytes("b/q-8.png");
  second.insert(second.end(), {"b/q.png", "b/q-8.png", "b/q-16.png", "a/p.png"});
  const RunResult again = Run(second);
  EXPECT_EQ(again.status, 3) << again.err;
  EXPECT_EQ(Bytes("b/q-8.png"), thumbnail);
  EXPECT_FALSE(Exists("b/q-8-8.png"));
  EXPECT_TRUE(Exists("a/p-8.png") && Exists("a/p-16.png"));
}

// Each shard works out the names of the whole listing, so two inputs in
// different shards that write one file fail in both; with {w} the other
// shard's headers are read for it.
TEST_F(BatchRun, ShardsSeeClashesAcrossShards) {
  std::ofstream(dir_ / "list") << "a/p.png\nb/p.png\nb/q.png\n";
  for (const std::string templ : {"out/{name}.jpg", "out/{name}-{w}.jpg"}) {
    const std::string clash = templ == "out/{name}.jpg" ? "out/p.jpg" : "out/p-8.jpg";
    for (const std::string shard : {"0/2", "1/2"}) {
      const RunResult r =
          Run({"//inputs", "list", "//shard", shard, "/w", "8", "/o", templ, "//report", "-"});
      EXPECT_EQ(r.status, 1) << shard << " " << r.err;
      EXPECT_EQ(r.err.substr(0, r.err.find('\n')),
                "Error: \"" + clash + "\": written for both \"a/p.png\" and \"b/p.png\"");
      EXPECT_FALSE(Exists(clash)) << shard;
    }
    EXPECT_TRUE(Exists(templ == "out/{name}.jpg" ? "out/q.jpg" : "out/q-8.jpg"));
  }
}

// {dir} below a fixed leading folder stays below it; a report onto a pipe
// with no reader is refused at once.
TEST_F(BatchRun, NamesStayInTheirFolderAndTheReportNeverWaits) {
  const RunResult r =
      RunTavrel({"//each", "/w", "8", "/c", "png", "/o", "out/{dir}/{name}.png", "../a/p.png"},
                (dir_ / "b").string());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Exists("b/out/a/p.png"));
  EXPECT_FALSE(Exists("b/a"));
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0644), 0);
  const RunResult fifo = Run({"//report", "fifo", "/w", "8", "/o", "o.jpg", "a/p.png"});
  EXPECT_NE(fifo.status, 0);
  EXPECT_NE(fifo.err.find("\"fifo\""), std::string::npos) << fifo.err;
  EXPECT_FALSE(Exists("o.jpg"));
}

}  // namespace
