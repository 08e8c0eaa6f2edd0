// The batch recipes of the README and the manual page, run as written: GNU
// parallel over ssh to two sshd on the loopback, the Kubernetes Indexed
// Job's manifest and command over a small listing, one run per completion
// index, and the one-host recipes. Each runs on a phone portrait stored on
// its side and on a source smaller than every size asked: its outputs are
// upright and not enlarged.
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <turbojpeg.h>
#include <webp/decode.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "png_files.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// The README's first line that starts with prefix, or empty.
std::string ReadmeLine(const std::string& prefix) {
  std::istringstream lines(ReadText(TAVREL_README));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(prefix, 0) == 0) return line;
  }
  return "";
}

// The README's first fenced block in the language, without its fences.
std::string ReadmeBlock(const std::string& language) {
  const std::string text = ReadText(TAVREL_README);
  const std::string fence = "```" + language + "\n";
  const size_t start = text.find(fence);
  if (start == std::string::npos) return "";
  const size_t end = text.find("```", start + fence.size());
  return text.substr(start + fence.size(), end - start - fence.size());
}

// The Containerfile at the repository's root, by instruction: its
// arguments, continued lines joined; RUN's commands each an entry of its own.
std::map<std::string, std::string> ContainerfileInstructions(
    std::vector<std::string>* commands = nullptr) {
  std::map<std::string, std::string> instructions;
  std::istringstream lines(ReadText(fs::path(TAVREL_README).parent_path() / "Containerfile"));
  std::string whole;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    if (!line.empty() && line.back() == '\\') {
      whole += line.substr(0, line.size() - 1);
      continue;
    }
    whole += line;
    const size_t space = whole.find(' ');
    const std::string name = whole.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : whole.substr(space + 1);
    instructions[name] = rest;
    for (size_t from = 0; name == "RUN" && commands != nullptr && from < rest.size();) {
      const size_t to = std::min(rest.find("&&", from), rest.size());
      std::string command = rest.substr(from, to - from);
      command.erase(0, command.find_first_not_of(' '));
      command.erase(command.find_last_not_of(' ') + 1);
      commands->push_back(command);
      from = to + 2;
    }
    whole.clear();
  }
  return instructions;
}

// The manual page's example block holding text, its lines as sh reads them.
std::string ManPageBlock(const std::string& text) {
  const fs::path page = fs::path(TAVREL_README).parent_path() / "doc/tavrel.1";
  std::string block;
  bool inside = false;
  std::istringstream lines(ReadText(page));
  for (std::string line; std::getline(lines, line);) {
    if (line == ".EX") {
      inside = true;
      block.clear();
    } else if (line == ".EE") {
      if (block.find(text) != std::string::npos) return block;
      inside = false;
    } else if (inside) {
      for (size_t i = 0; i < line.size(); ++i) {
        if (line.compare(i, 2, "\\-") != 0) block += line[i];  // "\-" is a hyphen
      }
      block += '\n';
    }
  }
  return "";
}

// A phone portrait stored on its side (EXIF orientation 6) and a source
// narrower than every recipe's sizes, with their upright sizes.
struct RecipeSource {
  const char* data;  // under tests/data
  int width, height;
};
constexpr RecipeSource kRecipeSources[] = {{"orientation/portrait_6.jpg", 32, 43},
                                           {"codecs/gradient_baseline.jpg", 48, 40}};

// A JPEG or WebP output of the source: no wider nor taller than the source
// upright, and turned as it is (a square cut says nothing of that).
void ExpectUprightAndNotEnlarged(const fs::path& output, int width, int height) {
  const std::vector<uint8_t> bytes = test::ReadFileBytes(output);
  int w = 0, h = 0, subsampling = 0, colourspace = 0;
  if (output.extension() == ".webp") {
    ASSERT_TRUE(WebPGetInfo(bytes.data(), bytes.size(), &w, &h)) << output << " is no WebP";
  } else {
    tjhandle handle = tjInitDecompress();
    const int read =
        tjDecompressHeader3(handle, bytes.data(), bytes.size(), &w, &h, &subsampling, &colourspace);
    tjDestroy(handle);
    ASSERT_EQ(read, 0) << output << " is no JPEG";
  }
  EXPECT_LE(w, width) << output << " is enlarged or on its side";
  EXPECT_LE(h, height) << output << " is enlarged or on its side";
  if (w != h) {
    EXPECT_EQ(w < h, width < height) << output << " is on its side";
  }
}

// Every output under folder whose name begins with a source's name is that
// source's; each source has at least one.
void ExpectRecipeOutputs(const fs::path& folder) {
  std::map<std::string, int> outputs;
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(folder, ec)) {
    if (!entry.is_regular_file()) continue;
    const std::string name = entry.path().filename().string();
    for (const RecipeSource& source : kRecipeSources) {
      const std::string stem = fs::path(source.data).stem().string();
      if (name.rfind(stem, 0) != 0) continue;
      ++outputs[stem];
      ExpectUprightAndNotEnlarged(entry.path(), source.width, source.height);
    }
  }
  for (const RecipeSource& source : kRecipeSources) {
    EXPECT_GT(outputs[fs::path(source.data).stem().string()], 0) << source.data << " in " << folder;
  }
}

std::string ProgramFolder() {
  return fs::path(TAVREL_BINARY).parent_path().string();
}

// Ports the loopback has free now: held together, so that they differ.
std::vector<int> FreePorts(int count) {
  std::vector<int> sockets, ports;
  for (int i = 0; i < count; ++i) {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      ports.push_back(0);
    } else {
      ports.push_back(ntohs(address.sin_port));
    }
    sockets.push_back(s);
  }
  for (int s : sockets) close(s);
  return ports;
}

// Where sshd cannot run the test is skipped, except where it must run (CI
// sets TAVREL_TEST_NEEDS_SSHD): there a skip would hide the recipe.
#define SSHD_CANNOT_RUN(why)                                             \
  do {                                                                   \
    if (std::getenv("TAVREL_TEST_NEEDS_SSHD") != nullptr) FAIL() << why; \
    GTEST_SKIP() << why;                                                 \
  } while (0)

// Two sshd on 127.0.0.1, each its own host for parallel, logging in the user
// who runs the test with a key of its own; remote commands find tavrel
// through PATH, as on a host where it is installed.
class ManyHosts : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string sshd = test::FindProgram("sshd");
    if (sshd.empty()) sshd = test::FindProgram("/usr/sbin/sshd");  // sbin is not on every PATH
    if (sshd.empty()) SSHD_CANNOT_RUN("no sshd here (openssh-server)");
    // As root sshd drops privileges into this folder, which its package's
    // service would make; as another user it needs none.
    std::error_code ec;
    if (geteuid() == 0 && !fs::is_directory("/run/sshd") &&
        !fs::create_directories("/run/sshd", ec)) {
      SSHD_CANNOT_RUN("cannot make /run/sshd for sshd: " << ec.message());
    }
    for (const char* key : {"host_key", "client_key"}) {
      const test::RunResult made =
          test::RunProgram({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", dir_ / key});
      ASSERT_EQ(made.status, 0) << made.err;
    }
    WriteText(dir_ / "authorized_keys", ReadText(dir_ / "client_key.pub"));
    ports_ = FreePorts(2);
    std::string hosts;
    for (int port : ports_) hosts += (hosts.empty() ? "" : ",") + Address(port);
    WriteText(dir_ / "known_hosts", hosts + " " + ReadText(dir_ / "host_key.pub"));
    // One connection a host for all of a job's logins (transfer, command,
    // return, cleanup), which would otherwise take most of the time.
    WriteText(dir_ / "ssh_config", "Host *\n  IdentityFile " + (dir_ / "client_key").string() +
                                       "\n  IdentitiesOnly yes\n  BatchMode yes\n"
                                       "  StrictHostKeyChecking yes\n  UserKnownHostsFile " +
                                       (dir_ / "known_hosts").string() +
                                       "\n  GlobalKnownHostsFile /dev/null\n"
                                       "  ConnectTimeout 20\n  LogLevel ERROR\n"
                                       "  ControlMaster auto\n  ControlPath " +
                                       (dir_ / "mux-%p").string() + "\n  ControlPersist 30\n");
    // The sanitizers' settings reach the remote tavrel too.
    std::string environment = "PATH=" + ProgramFolder() + ":/usr/local/bin:/usr/bin:/bin";
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
      if (const char* value = std::getenv(name))
        environment += std::string(" ") + name + "=" + value;
    }
    for (int port : ports_) {
      const fs::path config = dir_ / ("sshd_config_" + std::to_string(port));
      WriteText(config, "ListenAddress 127.0.0.1:" + std::to_string(port) + "\nHostKey " +
                            (dir_ / "host_key").string() + "\nAuthorizedKeysFile " +
                            (dir_ / "authorized_keys").string() +
                            "\nPidFile none\nStrictModes no\nUsePAM no\n"
                            "PasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                            "PermitRootLogin prohibit-password\nLogLevel VERBOSE\nSetEnv " +
                            environment + "\n");
      pids_.push_back(StartSshd(sshd, config, Log(port)));
    }
    // Ready once each says it listens; one that ends instead cannot run here.
    for (size_t i = 0; i < ports_.size(); ++i) {
      const std::string listening =
          "Server listening on 127.0.0.1 port " + std::to_string(ports_[i]) + ".";
      for (int wait = 0; ReadText(Log(ports_[i])).find(listening) == std::string::npos; ++wait) {
        int status = 0;
        if (pids_[i] <= 0 || waitpid(pids_[i], &status, WNOHANG) == pids_[i]) {
          pids_[i] = -1;
          SSHD_CANNOT_RUN("sshd does not start here: " << ReadText(Log(ports_[i])));
        }
        ASSERT_LT(wait, 400) << "sshd did not listen within 20 s: " << ReadText(Log(ports_[i]));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
  }

  void TearDown() override {
    for (int port : ports_) {  // the master connections, which outlive parallel
      if (fs::exists(dir_ / ("mux-" + std::to_string(port)))) {
        test::RunProgram({"ssh", "-F", dir_ / "ssh_config", "-p", std::to_string(port), "-O",
                          "exit", "127.0.0.1"});
      }
    }
    for (pid_t pid : pids_) {
      if (pid <= 0) continue;
      kill(pid, SIGTERM);
      while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
  }

  static std::string Address(int port) { return "[127.0.0.1]:" + std::to_string(port); }
  fs::path Log(int port) const { return dir_ / ("sshd_" + std::to_string(port) + ".log"); }

  static pid_t StartSshd(const std::string& sshd, const fs::path& config, const fs::path& log) {
    test::LogProgram(sshd);
    const pid_t pid = fork();
    if (pid == 0) {
      const int in = open("/dev/null", O_RDONLY);
      const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(in, 0);
      dup2(out, 1);
      dup2(out, 2);
      execl(sshd.c_str(), sshd.c_str(), "-D", "-e", "-f", config.c_str(), nullptr);
      _exit(127);
    }
    return pid;
  }

  test::TempDir dir_;
  std::vector<int> ports_;
  std::vector<pid_t> pids_;
};

TEST_F(ManyHosts, ParallelRecipeReturnsTheSingleRunsBytesAndCleansUp) {
  std::string line = ReadmeLine("parallel --sshlogin :,host1,host2 ");
  ASSERT_FALSE(line.empty()) << "the README's parallel line is gone";
  // The single runs below are the recipe's.
  ASSERT_NE(line.find(" tavrel //web /w 256 /o {.}-256.jpg {} "), std::string::npos) << line;
  // One job slot a host, this one too, so that four inputs keep all busy.
  std::string logins = "1/:";
  for (int port : ports_) {
    logins += ",1/ssh -F " + (dir_ / "ssh_config").string() + " -p " + std::to_string(port) +
              " 127.0.0.1";
  }
  line.replace(line.find(":,host1,host2"), 13, "'" + logins + "'");

  // The recipe runs below the home parallel sees, here a folder of the
  // test's; the hosts, on this machine, work in the folder of that name
  // below the login's real home, which the cleanup must take away again.
  const fs::path home = dir_ / "home";
  const std::string name = "tavrel-parallel-" + dir_.path().filename().string();
  const fs::path work = home / name;
  const fs::path remote = fs::path(getpwuid(geteuid())->pw_dir) / name;
  fs::create_directories(work);
  const std::vector<std::string> inputs = {"codecs/gradient_baseline.jpg",
                                           "codecs/gradient_progressive.jpg",
                                           "orientation/portrait_6.jpg", "exif/Canon_40D.jpg"};
  for (const std::string& input : inputs) {
    fs::copy_file(test::DataPath(input), work / fs::path(input).filename());
  }

  test::LogProgram(test::FindProgram("parallel"));  // started by sh, and starting these
  test::LogProgram(test::FindProgram("ssh"));
  test::LogProgram(test::FindProgram("rsync"));
  const test::RunResult run =
      test::RunProgram({"env", "HOME=" + home.string(),
                        "PATH=" + ProgramFolder() + ":" + std::getenv("PATH"), "sh", "-c", line},
                       work.string());
  ASSERT_EQ(run.status, 0) << line << "\n" << run.err;

  for (const std::string& input : inputs) {
    const std::string stem = fs::path(input).stem().string();
    const fs::path returned = work / (stem + "-256.jpg");
    ASSERT_TRUE(fs::exists(returned)) << returned << " did not come back\n" << run.err;
    EXPECT_TRUE(fs::exists(work / fs::path(input).filename())) << input << " was cleaned up";
    const test::RunResult single =
        test::RunTavrel({"//web", "/w", "256", "/o", dir_ / "single.jpg", test::DataPath(input)});
    ASSERT_EQ(single.status, 0) << single.err;
    EXPECT_EQ(test::ReadFileBytes(returned), test::ReadFileBytes(dir_ / "single.jpg")) << input;
  }
  for (const RecipeSource& source : kRecipeSources) {
    ExpectUprightAndNotEnlarged(work / (fs::path(source.data).stem().string() + "-256.jpg"),
                                source.width, source.height);
  }
  // parallel removes the last job's remote files over a connection of its
  // own that may still be closing when it exits: wait for it a while.
  for (int tries = 0; tries < 100 && fs::exists(remote); ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_FALSE(fs::exists(remote)) << "--cleanup left " << remote;
  for (int port : ports_) {
    EXPECT_NE(ReadText(Log(port)).find("Accepted publickey"), std::string::npos)
        << "no job ran on the host at port " << port;
  }
}

// The value of a string field in a report line.
std::string Field(const std::string& line, const std::string& name) {
  const std::string key = "\"" + name + "\":\"";
  const size_t start = line.find(key);
  if (start == std::string::npos) return "";
  const size_t from = start + key.size();
  return line.substr(from, line.find('"', from) - from);
}

TEST(KubernetesJob, ManifestIsAnIndexedJobWhoseShardsCoverTheListingOnce) {
  test::TempDir dir;
  const std::string manifest = ReadmeBlock("yaml");
  ASSERT_FALSE(manifest.empty()) << "the README's yaml block is gone";
  WriteText(dir / "job.yaml", manifest);
  // The fields that matter, one a line; a manifest that is no YAML fails here.
  const char* kFields = R"(import sys, yaml
[job] = yaml.safe_load_all(open(sys.argv[1]))
body = job["spec"]
pod = body["template"]["spec"]
[container] = pod["containers"]
[args] = container["args"]
[mount] = container["volumeMounts"]
volumes = [v["name"] for v in pod["volumes"] if "persistentVolumeClaim" in v]
for value in (job["apiVersion"], job["kind"], body["completionMode"], body["completions"],
              body["parallelism"], pod["restartPolicy"], " ".join(container["command"]),
              mount["mountPath"], mount["name"] in volumes, container["image"],
              pod["securityContext"]["runAsUser"], args):
    print(value)
)";
  const test::RunResult parsed =
      test::RunProgram({"/usr/bin/python3", "-c", kFields, dir / "job.yaml"});
  ASSERT_EQ(parsed.status, 0) << parsed.err;
  std::vector<std::string> fields;
  std::istringstream lines(parsed.out);
  for (std::string line; std::getline(lines, line);) fields.push_back(line);
  ASSERT_EQ(fields.size(), 12u) << parsed.out;
  EXPECT_EQ(fields[0], "batch/v1");
  EXPECT_EQ(fields[1], "Job");
  EXPECT_EQ(fields[2], "Indexed");
  EXPECT_EQ(fields[5], "Never");  // an Indexed Job's pods may not restart Always
  EXPECT_EQ(fields[6], "sh -c");
  EXPECT_EQ(fields[8], "True") << "the mount is no volume of the pod";
  // The image the README builds from the Containerfile, as the user it runs as.
  const std::string build = ReadmeLine("podman build -f Containerfile -t ");
  EXPECT_EQ(build, "podman build -f Containerfile -t " + fields[9] + " build");
  EXPECT_EQ(ContainerfileInstructions()["USER"], fields[10] + ":" + fields[10]);
  std::string args = fields[11];
  std::smatch shard;
  ASSERT_TRUE(
      std::regex_search(args, shard, std::regex(R"(//shard \$JOB_COMPLETION_INDEX/(\d+) )")))
      << args;
  const int completions = std::stoi(fields[3]);
  EXPECT_EQ(shard[1].str(), fields[3]) << "the shards' count is not the completions";
  EXPECT_LE(std::stoi(fields[4]), completions);
  std::smatch report;
  ASSERT_TRUE(std::regex_search(args, report, std::regex(R"(//report (\S+) )"))) << args;
  const std::string mount = fields[7] + "/";
  ASSERT_EQ(report[1].str().rfind(mount, 0), 0u) << "the report is not on the volume";

  // The volume, here a folder: a listing of more inputs than pods, one of
  // them damaged.
  const fs::path data = dir / "data";
  fs::create_directories(data / "in");
  std::set<std::string> listed;
  std::string listing;
  for (int i = 0; i < completions + 3; ++i) {
    const std::string input = (data / "in" / ("p" + std::to_string(i) + ".png")).string();
    ASSERT_TRUE(test::WritePng(input, test::MakeTestPattern(8 + i, 6, 8, 3)));
    listed.insert(input);
    listing += input + "\n";
  }
  for (const RecipeSource& source : kRecipeSources) {
    const fs::path input = data / "in" / fs::path(source.data).filename();
    fs::copy_file(test::DataPath(source.data), input);
    listed.insert(input.string());
    listing += input.string() + "\n";
  }
  const std::string damaged = (data / "in" / "damaged.png").string();
  WriteText(damaged, "no image\n");
  listed.insert(damaged);
  listing += damaged + "\n";
  WriteText(data / "list.txt", listing);
  for (size_t at = args.find(mount); at != std::string::npos; at = args.find(mount, at)) {
    args.replace(at, mount.size(), data.string() + "/");
    at += data.string().size() + 1;
  }

  std::map<std::string, std::set<int>> shardsOf;  // input -> the pods that wrote it
  for (int index = 0; index < completions; ++index) {
    const test::RunResult pod =
        test::RunProgram({"env", "JOB_COMPLETION_INDEX=" + std::to_string(index),
                          "PATH=" + ProgramFolder() + ":" + std::getenv("PATH"), "sh", "-c", args});
    ASSERT_EQ(pod.status, 0) << args << "\n" << pod.err;  // whatever its inputs did
    EXPECT_EQ(pod.out, "") << "the pod's log holds report lines";
    std::istringstream lines(ReadText(data / "reports" / (std::to_string(index) + ".jsonl")));
    for (std::string line; std::getline(lines, line);) {
      const std::string input = Field(line, "input");
      EXPECT_EQ(Field(line, "status"), input == damaged ? "failed" : "ok") << line;
      if (input != damaged) {
        EXPECT_TRUE(fs::exists(Field(line, "output"))) << line;
      }
      shardsOf[input].insert(index);
    }
  }
  std::set<std::string> reported;
  for (const auto& [input, pods] : shardsOf) {
    reported.insert(input);
    EXPECT_EQ(pods.size(), 1u) << input << " is in more than one shard";
  }
  EXPECT_EQ(reported, listed);
  ExpectRecipeOutputs(data / "out");
}

// The image cannot be built here (no registry): each step is checked
// instead. Its base is the Debian release this package is built on; it
// copies the .deb that cpack makes from this build, by its name; every
// command it runs is in a package every Debian image holds (priority
// required), and it installs the file it copied.
TEST(Containerfile, EveryStepHoldsForThePackageThisBuildMakes) {
  std::vector<std::string> commands;
  std::map<std::string, std::string> step = ContainerfileInstructions(&commands);
  std::string codename;
  std::istringstream release(ReadText("/etc/os-release"));
  for (std::string line; std::getline(release, line);) {
    if (line.rfind("VERSION_CODENAME=", 0) == 0) codename = line.substr(17);
  }
  ASSERT_FALSE(codename.empty());
  EXPECT_TRUE(step["FROM"] == "debian:" + codename ||
              step["FROM"] == "debian:" + codename + "-slim")
      << step["FROM"];

  test::TempDir scratch;
  const std::string config = ProgramFolder() + "/CPackConfig.cmake";
  const test::RunResult packed =
      test::RunProgram({"cpack", "-G", "DEB", "--config", config, "-B", scratch.path().string()});
  ASSERT_EQ(packed.status, 0) << packed.out << packed.err;
  std::string deb;
  for (const auto& entry : fs::directory_iterator(scratch.path())) {
    if (entry.path().extension() == ".deb") deb = entry.path().filename().string();
  }
  ASSERT_FALSE(deb.empty()) << packed.out;
  EXPECT_EQ(step["COPY"], deb + " /tmp/") << "the Containerfile copies another package";
  const test::RunResult contents = test::RunProgram({"dpkg-deb", "-c", (scratch / deb).string()});
  EXPECT_NE(contents.out.find(" ./usr/bin/tavrel\n"), std::string::npos) << contents.out;
  EXPECT_EQ(step["ENTRYPOINT"], R"(["tavrel"])");

  ASSERT_FALSE(commands.empty());
  EXPECT_NE(std::find(commands.begin(), commands.end(),
                      "apt-get install -y --no-install-recommends /tmp/" + deb),
            commands.end());
  for (const std::string& command : commands) {
    // Found by the name its package installs it under (/bin or /usr/bin).
    const std::string name = command.substr(0, command.find(' '));
    test::RunResult owner;
    for (const char* folder : {"/usr/bin/", "/bin/", "/usr/sbin/", "/sbin/"}) {
      owner = test::RunProgram({"dpkg-query", "-S", folder + name});
      if (owner.status == 0) break;
    }
    ASSERT_EQ(owner.status, 0) << name << " is in no package";
    const std::string package = owner.out.substr(0, owner.out.find(':'));
    const test::RunResult priority =
        test::RunProgram({"dpkg-query", "-W", "-f=${Priority}", package});
    EXPECT_EQ(priority.out, "required") << command << ": " << package << " is not in every image";
  }
}

// The recipes for one host: each line as written, tavrel found on PATH,
// run in a folder whose photos/ holds the two sources.
TEST(OneHostRecipes, EachTurnsAPortraitUprightAndEnlargesNothing) {
  test::TempDir dir;
  // Spark's RDD.pipe splits its command as shlex does and feeds the names.
  const std::string spark = ReadmeLine("report = names.pipe(");
  const size_t open = spark.find("(\""), close = spark.rfind("\")");
  ASSERT_TRUE(open != std::string::npos && close != std::string::npos) << spark;
  std::string pipe = spark.substr(open + 2, close - open - 2);
  ASSERT_NE(pipe.find("/shared/"), std::string::npos) << pipe;
  pipe.replace(pipe.find("/shared/"), 8, "");
  std::string names;
  for (const RecipeSource& source : kRecipeSources) {
    names += "photos/" + fs::path(source.data).filename().string() + "\\n";
  }
  const std::string sparkRun = "printf '" + names +
                               "' | python3 -c 'import shlex, subprocess, sys\n"
                               "sys.exit(subprocess.run(shlex.split(sys.argv[1])).returncode)' '" +
                               pipe + "'";
  const struct {
    const char* where;
    std::string script;
  } recipes[] = {
      {"the README's srcset of every photo", ReadmeLine("tavrel //each ")},
      {"the README's listing", ReadmeLine("find photos ")},
      {"the README's Spark pipe", sparkRun},
      {"the manual page's parallel", ManPageBlock("parallel tavrel ")},
  };
  for (const auto& recipe : recipes) {
    SCOPED_TRACE(recipe.where);
    ASSERT_FALSE(recipe.script.empty()) << "the recipe is gone";
    const fs::path work = dir / "work";
    fs::remove_all(work);
    fs::create_directories(work / "photos");
    for (const RecipeSource& source : kRecipeSources) {
      fs::copy_file(test::DataPath(source.data),
                    work / "photos" / fs::path(source.data).filename());
    }
    const test::RunResult run = test::RunProgram(
        {"env", "PATH=" + ProgramFolder() + ":" + std::getenv("PATH"), "sh", "-c", recipe.script},
        work.string());
    ASSERT_EQ(run.status, 0) << recipe.script << "\n" << run.err;
    ExpectRecipeOutputs(work / "out");
  }
}

}  // namespace
