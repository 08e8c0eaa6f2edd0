#include "driver/command_line/command_line.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "driver/command_line/format_list.h"
#include "driver/command_line/number_text.h"
#include "driver/command_line/size_list.h"
#include "metadata/drop_items.h"
#include "resample/sharpen.h"

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

// A limit: a whole decimal number from 1 to 2^64 - 1, digits alone.
bool ReadLimit(std::string_view text, uint64_t* value) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  uint64_t read = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), read);
  if (ec != std::errc{} || end != text.data() + text.size() || read == 0) return false;
  *value = read;
  return true;
}

// Seconds: digits with an optional decimal fraction, above 0.
bool ReadSeconds(std::string_view text, double* value) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  double read = 0;
  const auto [end, ec] =
      std::from_chars(text.data(), text.data() + text.size(), read, std::chars_format::fixed);
  if (ec != std::errc{} || end != text.data() + text.size() || !(read > 0) ||
      !std::isfinite(read)) {
    return false;
  }
  *value = read;
  return true;
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

// Digits with at most one decimal point among them, and nothing else.
bool IsPlainDecimal(std::string_view word) {
  size_t digits = 0, points = 0;
  for (const char c : word) {
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c == '.') {
      ++points;
    } else {
      return false;
    }
  }
  return digits != 0 && points <= 1;
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
  // One row per long option: its name, how many words follow it, and what
  // it sets from them. The handler runs once the words are taken; when too
  // few are left the missing-argument line is said and the handler runs
  // only where the option, as the numeric flags do, takes the value of
  // empty text.
  enum class WhenMissing { kSkip, kEmpty };
  using Words = std::span<const std::string>;
  struct LongOptionRow {
    std::string_view name;
    size_t words;
    WhenMissing whenMissing;
    void (Scanner::*apply)(const std::string& name, Words words);
  };
  static const LongOptionRow kLongOptions[];

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
        s_.qualityGiven = true;
        break;
      case 'r':
        s_.rotation = ReadInteger(argument);
        break;
      case 'w':
        s_.width = ReadInteger(argument);
        break;
    }
  }

  void LongOption(const std::string& name);

  void Out(const std::string&, Words w) { s_.outputName = w[0]; }
  void Help(const std::string&, Words) { out_.notes.push_back({NoteKind::kUsage, {}}); }
  void HeightWidth(const std::string&, Words w) {
    s_.height = ReadInteger(w[0]);
    s_.width = ReadInteger(w[1]);
  }
  void Width(const std::string&, Words w) { s_.width = ReadInteger(w[0]); }
  void Height(const std::string&, Words w) { s_.height = ReadInteger(w[0]); }
  void Rotate(const std::string&, Words w) { s_.rotation = ReadInteger(w[0]); }
  void Linear(const std::string&, Words) { s_.filterSpace.linear = true; }
  void Premultiply(const std::string&, Words) { s_.filterSpace.premultiply = true; }
  void Upright(const std::string&, Words) { s_.upright = true; }
  void Web(const std::string&, Words) { s_.web = true; }
  void Json(const std::string&, Words) { s_.dumpJson = true; }
  void Crop(const std::string& name, Words w) {
    const std::string& word = w[0];
    if (word != "centre" && word != "attention" && word != "entropy") {
      BadArgument(name, word);
      return;
    }
    s_.crop = word == "attention" ? CropRule::kAttention
              : word == "entropy" ? CropRule::kEntropy
                                  : CropRule::kCentre;
    s_.cropGiven = true;
  }
  // "//sharpen [AMOUNT]": the next word is the amount when it is a plain
  // decimal number ("0.5", "2", ".75"); any other word is read as usual.
  void Sharpen(const std::string& name, Words) {
    s_.sharpen = kSharpenDefault;
    if (next_ >= words_.size() || !IsPlainDecimal(words_[next_])) return;
    const std::string& word = words_[next_++];
    const double amount = ReadDecimal(word);
    if (!(amount >= kSharpenLeastAmount && amount <= double(kSharpenMost) / kSharpenOne)) {
      BadArgument(name, word);
      s_.sharpen = 0;
      return;
    }
    s_.sharpen = int32_t(amount * kSharpenOne + 0.5);
  }
  void Placeholder(const std::string&, Words) { s_.placeholder = true; }
  void ShrinkOnLoad(const std::string&, Words) { s_.shrinkOnLoad = true; }
  // "//max-bytes N": a whole number of bytes, at least 1.
  void MaxBytes(const std::string& name, Words w) {
    const std::string& word = w[0];
    uint64_t bytes = 0;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), bytes);
    if (word.empty() || word[0] == '+' || ec != std::errc{} || end != word.data() + word.size() ||
        bytes == 0) {
      BadArgument(name, word);
      return;
    }
    s_.qualityGoal.kind = QualityGoalKind::kMaxBytes;
    s_.qualityGoal.maxBytes = bytes;
    s_.maxBytesGiven = true;
  }
  // "//target-quality SCORE": a similarity above 0 and at most 1.
  void TargetQuality(const std::string& name, Words w) {
    const std::string& word = w[0];
    double score = 0;
    const auto [end, ec] =
        std::from_chars(word.data(), word.data() + word.size(), score, std::chars_format::fixed);
    if (ec != std::errc{} || end != word.data() + word.size() || !(score > 0 && score <= 1)) {
      BadArgument(name, word);
      return;
    }
    s_.qualityGoal.kind = QualityGoalKind::kScore;
    s_.qualityGoal.score = score;
    s_.scoreGiven = true;
  }
  void NoEnlarge(const std::string&, Words) { s_.noEnlarge = true; }
  void Centre(const std::string&, Words) { s_.alignment = SampleAlignment::kCentres; }
  void Animated(const std::string&, Words) { s_.animated = true; }
  void InPlace(const std::string&, Words) { s_.inPlace = true; }
  void Progressive(const std::string&, Words) { s_.exportSettings.progressive = true; }
  void Strict(const std::string&, Words) { s_.strict = true; }
  void Each(const std::string&, Words) { out_.batch.each = true; }
  void InputsFile(const std::string&, Words w) { out_.batch.inputsFile = w[0]; }
  void SkipExisting(const std::string&, Words) { out_.batch.skipExisting = true; }
  void Report(const std::string&, Words w) { out_.batch.reportTarget = w[0]; }
  void KeepGoing(const std::string&, Words) { out_.batch.keepGoing = true; }
  void Serve(const std::string&, Words) { out_.batch.serve = true; }
  void Version(const std::string&, Words) {
    out_.notes.push_back({NoteKind::kVersion, {}});
    out_.versionAsked = true;
  }
  void Jobs(const std::string& name, Words w) {
    if (!ReadPositive(w[0], &out_.batch.jobs)) BadArgument(name, w[0]);
  }
  void LimitPixels(const std::string& name, Words w) { Limit(name, w[0], &s_.limits.pixels); }
  void LimitFrames(const std::string& name, Words w) { Limit(name, w[0], &s_.limits.frames); }
  void LimitWork(const std::string& name, Words w) { Limit(name, w[0], &s_.limits.work); }
  void LimitBytes(const std::string& name, Words w) { Limit(name, w[0], &s_.limits.bytes); }
  void Limit(const std::string& name, const std::string& word, uint64_t* limit) {
    if (!ReadLimit(word, limit)) BadArgument(name, word);
  }
  void Timeout(const std::string& name, Words w) {
    if (!ReadSeconds(w[0], &s_.limits.timeoutSeconds)) BadArgument(name, w[0]);
  }
  void Fit(const std::string& name, Words w) { BoxOption(name, BoxRule::kFit, w); }
  void Fill(const std::string& name, Words w) { BoxOption(name, BoxRule::kFill, w); }
  void Drop(const std::string& name, Words w) { ItemsOption(name, w[0], &s_.dropItems); }
  void Keep(const std::string& name, Words w) { ItemsOption(name, w[0], &s_.keptItems); }

  void BadArgument(const std::string& name, std::string_view word) {
    Error("Invalid argument for flag \"-" + name + "\": \"" + std::string(word) + "\"\n");
  }

  // Both words are reported when bad; the box is set only when both are good.
  void BoxOption(const std::string& name, BoxRule rule, Words w) {
    int32_t width = 0, height = 0;
    const bool goodWidth = ReadPositive(w[0], &width);
    if (!goodWidth) BadArgument(name, w[0]);
    const bool goodHeight = ReadPositive(w[1], &height);
    if (!goodHeight) BadArgument(name, w[1]);
    if (!goodWidth || !goodHeight) return;
    s_.boxRule = rule;
    (rule == BoxRule::kFit ? s_.fitGiven : s_.fillGiven) = true;
    s_.boxWidth = width;
    s_.boxHeight = height;
  }

  // "//drop" and "//keep": a comma-separated list of kinds, each bad word
  // reported; the kinds are taken only when all are good.
  void ItemsOption(const std::string& name, std::string_view rest, uint32_t* kinds) {
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
  void Background(const std::string& name, Words w) {
    const std::string& word = w[0];
    int32_t colour = 0;
    bool good = word.size() == 6;
    for (size_t i = 0; good && i < word.size(); ++i) {
      const char c = word[i];
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
      BadArgument(name, word);
    }
  }

  void Subsampling(const std::string& name, Words w) {
    if (w[0] == "444" || w[0] == "422" || w[0] == "420") {
      s_.exportSettings.subsampling = ReadInteger(w[0]);
    } else {
      BadArgument(name, w[0]);
    }
  }

  // "//effort": one digit, 0 to 9.
  void Effort(const std::string& name, Words w) {
    if (w[0].size() == 1 && w[0][0] >= '0' && w[0][0] <= '9') {
      s_.exportSettings.effort = w[0][0] - '0';
    } else {
      BadArgument(name, w[0]);
    }
  }

  // "//sizes": every entry is checked and each bad one reported; the list
  // is taken only when all are good.
  void Sizes(const std::string& name, Words w) {
    std::vector<SizeEntry> sizes;
    bool good = true;
    std::string_view rest = w[0];
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

  // "//formats" and "//quality": taken only when the whole list is good.
  void Formats(const std::string& name, Words w) {
    std::string bad;
    if (!ParseFormatList(w[0], &s_.formats, &bad)) {
      BadArgument(name, bad);
      return;
    }
    out_.batch.formatsGiven = true;
  }
  void Qualities(const std::string& name, Words w) {
    std::string bad;
    if (!ParseQualityList(w[0], &s_.codecQualities, &bad)) BadArgument(name, bad);
    out_.batch.qualitiesGiven = true;
  }

  // "//shard I/N": 0 <= I < N.
  void Shard(const std::string& name, Words w) {
    const std::string& word = w[0];
    const size_t slash = word.find('/');
    int32_t index = 0, count = 0;
    const std::string indexText = word.substr(0, slash);
    const bool goodIndex = indexText == "0" || ReadPositive(indexText, &index);
    if (slash == std::string::npos || !goodIndex ||
        !ReadPositive(std::string_view(word).substr(slash + 1), &count) || index >= count) {
      BadArgument(name, word);
      return;
    }
    out_.batch.shardIndex = index;
    out_.batch.shardCount = count;
  }

  std::span<const std::string> words_;
  size_t next_ = 0;
  JobSettings& s_;
  ScanOutcome out_;
};

// The classic options first, in their order, then the everyday ones, the
// batch's and the version.
const Scanner::LongOptionRow Scanner::kLongOptions[] = {
    {"out", 1, WhenMissing::kEmpty, &Scanner::Out},
    {"help", 0, WhenMissing::kSkip, &Scanner::Help},
    {"resampleHeightWidth", 2, WhenMissing::kSkip, &Scanner::HeightWidth},
    {"resampleWidth", 1, WhenMissing::kEmpty, &Scanner::Width},
    {"resampleHeight", 1, WhenMissing::kEmpty, &Scanner::Height},
    {"rotate", 1, WhenMissing::kEmpty, &Scanner::Rotate},
    {"linear", 0, WhenMissing::kSkip, &Scanner::Linear},
    {"premultiply", 0, WhenMissing::kSkip, &Scanner::Premultiply},
    {"fit", 2, WhenMissing::kSkip, &Scanner::Fit},
    {"fill", 2, WhenMissing::kSkip, &Scanner::Fill},
    {"upright", 0, WhenMissing::kSkip, &Scanner::Upright},
    {"drop", 1, WhenMissing::kSkip, &Scanner::Drop},
    {"keep", 1, WhenMissing::kSkip, &Scanner::Keep},
    {"web", 0, WhenMissing::kSkip, &Scanner::Web},
    {"shrink-on-load", 0, WhenMissing::kSkip, &Scanner::ShrinkOnLoad},
    {"no-enlarge", 0, WhenMissing::kSkip, &Scanner::NoEnlarge},
    {"centre", 0, WhenMissing::kSkip, &Scanner::Centre},
    {"background", 1, WhenMissing::kSkip, &Scanner::Background},
    {"animated", 0, WhenMissing::kSkip, &Scanner::Animated},
    {"in-place", 0, WhenMissing::kSkip, &Scanner::InPlace},
    {"progressive", 0, WhenMissing::kSkip, &Scanner::Progressive},
    {"strict", 0, WhenMissing::kSkip, &Scanner::Strict},
    {"subsampling", 1, WhenMissing::kSkip, &Scanner::Subsampling},
    {"effort", 1, WhenMissing::kSkip, &Scanner::Effort},
    {"sizes", 1, WhenMissing::kSkip, &Scanner::Sizes},
    {"formats", 1, WhenMissing::kSkip, &Scanner::Formats},
    {"quality", 1, WhenMissing::kSkip, &Scanner::Qualities},
    {"each", 0, WhenMissing::kSkip, &Scanner::Each},
    {"inputs", 1, WhenMissing::kSkip, &Scanner::InputsFile},
    {"jobs", 1, WhenMissing::kSkip, &Scanner::Jobs},
    {"shard", 1, WhenMissing::kSkip, &Scanner::Shard},
    {"skip-existing", 0, WhenMissing::kSkip, &Scanner::SkipExisting},
    {"report", 1, WhenMissing::kSkip, &Scanner::Report},
    {"version", 0, WhenMissing::kSkip, &Scanner::Version},
    {"json", 0, WhenMissing::kSkip, &Scanner::Json},
    {"crop", 1, WhenMissing::kSkip, &Scanner::Crop},
    {"keep-going", 0, WhenMissing::kSkip, &Scanner::KeepGoing},
    {"serve", 0, WhenMissing::kSkip, &Scanner::Serve},
    {"sharpen", 0, WhenMissing::kSkip, &Scanner::Sharpen},
    {"placeholder", 0, WhenMissing::kSkip, &Scanner::Placeholder},
    {"limit-pixels", 1, WhenMissing::kSkip, &Scanner::LimitPixels},
    {"limit-frames", 1, WhenMissing::kSkip, &Scanner::LimitFrames},
    {"limit-work", 1, WhenMissing::kSkip, &Scanner::LimitWork},
    {"limit-bytes", 1, WhenMissing::kSkip, &Scanner::LimitBytes},
    {"timeout", 1, WhenMissing::kSkip, &Scanner::Timeout},
    {"max-bytes", 1, WhenMissing::kSkip, &Scanner::MaxBytes},
    {"target-quality", 1, WhenMissing::kSkip, &Scanner::TargetQuality},
};

void Scanner::LongOption(const std::string& name) {
  const LongOptionRow* row = nullptr;
  for (const LongOptionRow& candidate : kLongOptions) {
    if (candidate.name == name) row = &candidate;
  }
  if (row == nullptr) {
    Message("Unknown flag: --" + name + "\n");
    return;
  }
  std::vector<std::string> words;
  while (words.size() < row->words && next_ < words_.size()) words.push_back(words_[next_++]);
  if (words.size() < row->words) {
    MissingArgument(name);
    if (row->whenMissing == WhenMissing::kSkip) return;
    words.assign(row->words, std::string());
  }
  (this->*row->apply)(name, words);
}

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

void RefusePlaceholderWithoutReport(JobSettings& settings, ScanOutcome& scan) {
  if (!settings.placeholder || scan.batch.reportTarget) return;
  scan.notes.push_back(
      {NoteKind::kMessage, "Nowhere to put placeholders: //placeholder needs //report\n"});
  ++settings.errorCount;
}

std::vector<std::string_view> LongOptionNames() {
  std::vector<std::string_view> names;
  for (const auto& row : Scanner::kLongOptions) names.push_back(row.name);
  return names;
}
