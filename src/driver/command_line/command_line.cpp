#include "driver/command_line/command_line.h"

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "driver/command_line/number_text.h"
#include "driver/command_line/size_list.h"
#include "metadata/drop_items.h"

namespace {

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

bool IsFileNotFolder(const std::string& path) {
  std::error_code ec;
  auto status = std::filesystem::status(path, ec);
  return !ec && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

// The four characters packed first-in-most-significant; missing ones are 0.
OSType PackCodec(std::string_view text) {
  OSType code = 0;
  for (size_t i = 0; i < 4; ++i) {
    code = (code << 8) | (i < text.size() ? uint8_t(text[i]) : 0);
  }
  return code;
}

// "h" or "v", then "w" (wrap) or "p" (pinch), wrap when neither follows;
// other characters are skipped.
void ApplyEdgeModes(std::string_view text, JobSettings& s) {
  for (size_t i = 0; i < text.size(); ++i) {
    EdgeMode* mode = text[i] == 'h'   ? &s.horizontalEdge
                     : text[i] == 'v' ? &s.verticalEdge
                                      : nullptr;
    if (mode == nullptr) continue;
    *mode = kEdgeWrap;
    if (i + 1 < text.size() && text[i + 1] == 'w') {
      ++i;
    } else if (i + 1 < text.size() && text[i + 1] == 'p') {
      *mode = kEdgePinch;
      ++i;
    }
  }
}

int32_t QualityFromPercent(std::string_view text) {
  return TruncateSaturating(ReadDecimal(text) * 10.23);
}

// Flags that take the rest of their word, or else the next word.
bool TakesArgument(char flag) {
  switch (flag) {
    case '%':
    case 'M':
    case 'b':
    case 'c':
    case 'h':
    case 'o':
    case 'p':
    case 'q':
    case 'r':
    case 'w':
      return true;
    default:
      return false;
  }
}

class Scanner {
 public:
  Scanner(std::span<const std::string> words, JobSettings& settings)
      : words_(words), s_(settings) {}

  ScanOutcome Run() {
    while (next_ < words_.size()) ScanWord(words_[next_++]);
    return std::move(out_);
  }

 private:
  void Message(std::string text) { out_.notes.push_back({NoteKind::kMessage, std::move(text)}); }
  void Error(std::string text) {
    Message(std::move(text));
    ++s_.errorCount;
  }
  void MissingArgument(std::string_view flag) {
    Error("Expected argument for flag \"-" + std::string(flag) + "\"\n");
  }
  const std::string* TakeNextWord() { return next_ < words_.size() ? &words_[next_++] : nullptr; }

  void ScanWord(const std::string& word) {
    if (word.empty() || (word[0] != '-' && word[0] != '/') ||
        (word[0] == '/' && WordIsAbsoluteInputPath(word))) {
      s_.inputPath = word;
      out_.batch.inputWords.push_back(word);
      return;
    }
    if (word.size() == 1) return;  // a lone "-" or "/"
    ScanFlags(word);
  }

  void ScanFlags(const std::string& first) {
    const std::string* word = &first;
    size_t i = 1;
    while (i < word->size()) {
      const char flag = (*word)[i];
      if (flag == '-' || flag == '/') {
        LongOption(word->substr(i + 1));
        return;
      }
      if (TakesArgument(flag)) {
        ArgumentFlag(flag, *word, i);
        return;
      }
      if (flag != 'k') {
        SimpleFlag(flag);
        ++i;
        continue;
      }
      // The kernel letter follows in the same word or opens the next one;
      // either way the letters after it are read on as flags.
      if (i + 1 < word->size()) {
        Kernel((*word)[i + 1]);
        i += 2;
      } else if (const std::string* nextWord = TakeNextWord()) {
        word = nextWord;
        if (word->empty()) {
          Message("Unknown kernel ''\n");
          return;
        }
        Kernel((*word)[0]);
        i = 1;
      } else {
        MissingArgument("k");
        return;
      }
    }
  }

  void SimpleFlag(char flag) {
    switch (flag) {
      case '!':
        out_.trace = true;
        break;
      case 'v':
        out_.verbose = true;
        break;
      case 'm':
        s_.copyMetadata = true;
        break;
      case '?':
        out_.notes.push_back({NoteKind::kUsage, {}});
        break;
      case 'V':
        out_.notes.push_back({NoteKind::kVersion, {}});
        break;
      default:
        Error(std::string("Unknown flag: -") + flag + "\n");
    }
  }

  void Kernel(char letter) {
    switch (letter) {
      case 's':
        s_.kernel = kKernelSinc;
        break;
      case 'g':
        s_.kernel = kKernelGaussian;
        break;
      case 'G':
        s_.kernel = kKernelWideGaussian;
        break;
      default:
        Message(std::string("Unknown kernel '") + letter + "'\n");
    }
  }

  void ArgumentFlag(char flag, const std::string& word, size_t at) {
    if (at + 1 < word.size()) {
      SetFromArgument(flag, std::string_view(word).substr(at + 1));
    } else if (const std::string* argument = TakeNextWord()) {
      SetFromArgument(flag, *argument);
    } else {
      MissingArgument(std::string(1, flag));
      // The numeric settings take the value of empty text; the others stay.
      if (flag != 'M' && flag != 'c' && flag != 'o' && flag != 'p') SetFromArgument(flag, "");
    }
  }

  void SetFromArgument(char flag, std::string_view argument) {
    switch (flag) {
      case '%':
        s_.percentScale = NarrowToFloat(ReadDecimal(argument));
        break;
      case 'M':
        s_.dumpTarget = std::string(argument);
        break;
      case 'b':
        s_.depthGiven = true;
        s_.exportSettings.depth = int16_t(ReadInteger(argument));  // the low 16 bits
        break;
      case 'c':
        s_.codecGiven = true;
        s_.exportSettings.codec = PackCodec(argument);
        break;
      case 'h':
        s_.height = ReadInteger(argument);
        break;
      case 'o':
        s_.outputName = std::string(argument);
        break;
      case 'p':
        ApplyEdgeModes(argument, s_);
        break;
      case 'q':
        s_.exportSettings.quality = QualityFromPercent(argument);
        break;
      case 'r':
        s_.rotation = ReadInteger(argument);
        break;
      case 'w':
        s_.width = ReadInteger(argument);
        break;
    }
  }

  // Stores the next word's integer in *field, or 0 when no word is left.
  void IntegerOption(const std::string& name, int32_t* field) {
    if (const std::string* argument = TakeNextWord()) {
      *field = ReadInteger(*argument);
    } else {
      MissingArgument(name);
      *field = 0;
    }
  }

  void LongOption(const std::string& name) {
    if (name == "out") {
      const std::string* argument = TakeNextWord();
      if (argument == nullptr) MissingArgument(name);
      s_.outputName = argument ? *argument : std::string();
    } else if (name == "help") {
      out_.notes.push_back({NoteKind::kUsage, {}});
    } else if (name == "resampleHeightWidth") {
      const std::string* height = TakeNextWord();
      const std::string* width = TakeNextWord();
      if (height == nullptr || width == nullptr) {
        MissingArgument(name);
        return;
      }
      s_.height = ReadInteger(*height);
      s_.width = ReadInteger(*width);
    } else if (name == "resampleWidth") {
      IntegerOption(name, &s_.width);
    } else if (name == "resampleHeight") {
      IntegerOption(name, &s_.height);
    } else if (name == "rotate") {
      IntegerOption(name, &s_.rotation);
    } else if (name == "linear" || name == "premultiply") {
      (name == "linear" ? s_.filterSpace.linear : s_.filterSpace.premultiply) = true;
    } else if (!EverydayOption(name)) {
      Message("Unknown flag: --" + name + "\n");
    }
  }

  void BadArgument(const std::string& name, std::string_view word) {
    Error("Invalid argument for flag \"-" + name + "\": \"" + std::string(word) + "\"\n");
  }

  // Both words are read and each bad one reported; the box is set only
  // when both are good.
  void BoxOption(const std::string& name, BoxRule rule) {
    const std::string* width = TakeNextWord();
    const std::string* height = TakeNextWord();
    if (width == nullptr || height == nullptr) {
      MissingArgument(name);
      return;
    }
    int32_t w = 0, h = 0;
    const bool goodWidth = ReadPositive(*width, &w);
    if (!goodWidth) BadArgument(name, *width);
    const bool goodHeight = ReadPositive(*height, &h);
    if (!goodHeight) BadArgument(name, *height);
    if (!goodWidth || !goodHeight) return;
    s_.boxRule = rule;
    (rule == BoxRule::kFit ? s_.fitGiven : s_.fillGiven) = true;
    s_.boxWidth = w;
    s_.boxHeight = h;
  }

  // "//drop" and "//keep": a comma-separated list of kinds, each bad word
  // reported; the kinds are taken only when all are good.
  void ItemsOption(const std::string& name, uint32_t* kinds) {
    const std::string* list = TakeNextWord();
    if (list == nullptr) {
      MissingArgument(name);
      return;
    }
    std::string_view rest = *list;
    uint32_t items = 0;
    bool good = true;
    while (true) {
      const size_t comma = rest.find(',');
      const std::string_view word = rest.substr(0, comma);
      const uint32_t item = DropItemForWord(word);
      if (item == 0) {
        BadArgument(name, word);
        good = false;
      }
      items |= item;
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
    if (good) *kinds |= items;
  }

  // Six hexadecimal digits, either case, and nothing else.
  void BackgroundOption(const std::string& name) {
    const std::string* word = TakeNextWord();
    if (word == nullptr) {
      MissingArgument(name);
      return;
    }
    int32_t colour = 0;
    bool good = word->size() == 6;
    for (size_t i = 0; good && i < word->size(); ++i) {
      const char c = (*word)[i];
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
      good = digit >= 0;
      colour = colour * 16 + digit;
    }
    if (good) {
      s_.background = colour;
    } else {
      BadArgument(name, *word);
    }
  }

  void SubsamplingOption(const std::string& name) {
    const std::string* word = TakeNextWord();
    if (word == nullptr) {
      MissingArgument(name);
      return;
    }
    if (*word == "444" || *word == "422" || *word == "420") {
      s_.exportSettings.subsampling = ReadInteger(*word);
    } else {
      BadArgument(name, *word);
    }
  }

  // "//sizes": every entry is checked and each bad one reported; the list
  // is taken only when all are good.
  void SizesOption(const std::string& name) {
    const std::string* list = TakeNextWord();
    if (list == nullptr) {
      MissingArgument(name);
      return;
    }
    std::vector<SizeEntry> sizes;
    bool good = true;
    std::string_view rest = *list;
    while (true) {
      const size_t comma = rest.find(',');
      const std::string_view word = rest.substr(0, comma);
      SizeEntry entry;
      if (ParseSizeEntry(word, &entry)) {
        sizes.push_back(std::move(entry));
      } else {
        BadArgument(name, word);
        good = false;
      }
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
    if (!good) return;
    out_.batch.sizes = std::move(sizes);
    out_.batch.sizesGiven = true;
  }

  // "//shard I/N": 0 <= I < N.
  void ShardOption(const std::string& name) {
    const std::string* word = TakeNextWord();
    if (word == nullptr) {
      MissingArgument(name);
      return;
    }
    const size_t slash = word->find('/');
    int32_t index = 0, count = 0;
    const std::string indexText = word->substr(0, slash);
    const bool goodIndex = indexText == "0" || ReadPositive(indexText, &index);
    if (slash == std::string::npos || !goodIndex ||
        !ReadPositive(std::string_view(*word).substr(slash + 1), &count) || index >= count) {
      BadArgument(name, *word);
      return;
    }
    out_.batch.shardIndex = index;
    out_.batch.shardCount = count;
  }

  // A word that must be there: its text, else nullptr with the error said.
  const std::string* RequiredWord(const std::string& name) {
    const std::string* word = TakeNextWord();
    if (word == nullptr) MissingArgument(name);
    return word;
  }

  bool BatchOption(const std::string& name) {
    BatchOptions& b = out_.batch;
    if (name == "sizes") {
      SizesOption(name);
    } else if (name == "each") {
      b.each = true;
    } else if (name == "inputs") {
      if (const std::string* file = RequiredWord(name)) b.inputsFile = *file;
    } else if (name == "jobs") {
      const std::string* word = RequiredWord(name);
      if (word != nullptr && !ReadPositive(*word, &b.jobs)) BadArgument(name, *word);
    } else if (name == "shard") {
      ShardOption(name);
    } else if (name == "skip-existing") {
      b.skipExisting = true;
    } else if (name == "report") {
      if (const std::string* file = RequiredWord(name)) b.reportTarget = *file;
    } else {
      return false;
    }
    return true;
  }

  // The options beyond the classic set; false for an unknown name.
  bool EverydayOption(const std::string& name) {
    if (name == "fit") {
      BoxOption(name, BoxRule::kFit);
    } else if (name == "fill") {
      BoxOption(name, BoxRule::kFill);
    } else if (name == "upright") {
      s_.upright = true;
    } else if (name == "drop") {
      ItemsOption(name, &s_.dropItems);
    } else if (name == "keep") {
      ItemsOption(name, &s_.keptItems);
    } else if (name == "web") {
      s_.web = true;
    } else if (name == "no-enlarge") {
      s_.noEnlarge = true;
    } else if (name == "centre") {
      s_.alignment = SampleAlignment::kCentres;
    } else if (name == "background") {
      BackgroundOption(name);
    } else if (name == "animated") {
      s_.animated = true;
    } else if (name == "in-place") {
      s_.inPlace = true;
    } else if (name == "progressive") {
      s_.exportSettings.progressive = true;
    } else if (name == "strict") {
      s_.strict = true;
    } else if (name == "subsampling") {
      SubsamplingOption(name);
    } else if (!BatchOption(name)) {
      return VersionOption(name);
    }
    return true;
  }

  bool VersionOption(const std::string& name) {
    if (name == "version") {
      out_.notes.push_back({NoteKind::kVersion, {}});
      out_.versionAsked = true;
    } else {
      return false;
    }
    return true;
  }

  std::span<const std::string> words_;
  size_t next_ = 0;
  JobSettings& s_;
  ScanOutcome out_;
};

}  // namespace

bool WordIsAbsoluteInputPath(const std::string& word) {
  if (word.empty() || word[0] != '/') return false;
  if (IsFileNotFolder(word)) return true;
  // "/home/me/a.jpg" even when a.jpg is missing; not "//out", whose part
  // before the second slash is the bare root.
  const size_t second = word.find('/', 1);
  return second != std::string::npos && second > 1 && IsFolder(word.substr(0, second));
}

ScanOutcome ScanWords(std::span<const std::string> words, JobSettings& settings) {
  return Scanner(words, settings).Run();
}
