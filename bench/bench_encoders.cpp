// The encoders' own CPU time on pixels already resized, in process, so
// that reading, resizing and writing are left out. Every PNG in PNG_DIR
// (a run's outputs written losslessly at the sizes of the run being
// studied) is encoded as each codec asked for. Where OUT_DIR holds the
// run's own output of that name with the codec's extension, the bytes are
// compared: all equal proves the settings are the run's.
//
//   bench_encoders PNG_DIR OUT_DIR EXT:CODEC:QUALITY[:p][:eN]...
//
// EXT the output's extension, CODEC a four-letter codec (JPEG, WEBP,
// AVIF), QUALITY 0-1023 (818 is /q 80), p progressive JPEG, eN effort N.
// One line per codec: files, CPU seconds (the process's, so an encoder's
// own threads count), wall seconds, bytes, files compared and equal, and
// the process's peak resident memory at the end.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "imageio/export.h"
#include "imageio/import.h"
#include "platform/quicktime.h"

namespace {

namespace fs = std::filesystem;

struct Codec {
  std::string ext;
  ExportSettings settings;
};

bool ParseCodec(const std::string& text, Codec* codec) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t colon; (colon = text.find(':', start)) != std::string::npos; start = colon + 1) {
    parts.push_back(text.substr(start, colon - start));
  }
  parts.push_back(text.substr(start));
  if (parts.size() < 3 || parts[1].size() != 4) return false;
  codec->ext = parts[0];
  const std::string& c = parts[1];
  codec->settings.codec = OSType(uint8_t(c[0])) << 24 | OSType(uint8_t(c[1])) << 16 |
                          OSType(uint8_t(c[2])) << 8 | OSType(uint8_t(c[3]));
  codec->settings.quality = std::stoi(parts[2]);
  for (size_t i = 3; i < parts.size(); ++i) {
    if (parts[i] == "p") codec->settings.progressive = true;
    if (parts[i].size() > 1 && parts[i][0] == 'e')
      codec->settings.effort = std::stoi(parts[i].substr(1));
  }
  return true;
}

double ProcessCpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

std::vector<uint8_t> FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Tally {
  int files = 0, compared = 0, equal = 0;
  double cpu = 0, wall = 0;
  uint64_t bytes = 0;
};

void EncodeAll(const std::vector<GWorldPtr>& pictures, const std::vector<fs::path>& names,
               const fs::path& outDir, const Codec& codec, Tally* tally) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < pictures.size(); ++i) {
    const double cpu = ProcessCpuSeconds();
    const auto wall = std::chrono::steady_clock::now();
    if (EncodeImage(pictures[i], codec.settings, nullptr, &bytes) != noErr) continue;
    tally->cpu += ProcessCpuSeconds() - cpu;
    tally->wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
    tally->bytes += bytes.size();
    ++tally->files;
    const fs::path theirs = outDir / names[i].stem().concat("." + codec.ext);
    if (!fs::exists(theirs)) continue;
    ++tally->compared;
    if (FileBytes(theirs) == bytes) ++tally->equal;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: bench_encoders PNG_DIR OUT_DIR EXT:CODEC:QUALITY[:p][:eN]...\n");
    return 2;
  }
  StartQuickTime(0);
  std::vector<fs::path> names;
  for (const auto& entry : fs::directory_iterator(argv[1])) {
    if (entry.path().extension() == ".png") names.push_back(entry.path());
  }
  std::vector<GWorldPtr> pictures;
  for (const fs::path& name : names) {
    OpenedImport opened;
    GWorldPtr drawn = nullptr;
    if (OpenImport(name.string(), &opened) != noErr ||
        DrawWholeImage(opened, false, &drawn) != noErr) {
      std::fprintf(stderr, "cannot read %s\n", name.c_str());
      return 1;
    }
    pictures.push_back(drawn);
  }
  for (int a = 3; a < argc; ++a) {
    Codec codec;
    if (!ParseCodec(argv[a], &codec)) {
      std::fprintf(stderr, "bad codec %s\n", argv[a]);
      return 2;
    }
    Tally tally;
    EncodeAll(pictures, names, argv[2], codec, &tally);
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    std::printf(
        "%s: %d files, cpu %.3f s, wall %.3f s, %llu bytes, %d of %d compared equal, "
        "peak %ld MB\n",
        argv[a], tally.files, tally.cpu, tally.wall, static_cast<unsigned long long>(tally.bytes),
        tally.equal, tally.compared, usage.ru_maxrss / 1024);
  }
  for (GWorldPtr picture : pictures) DisposeGWorld(picture);
  return 0;
}
