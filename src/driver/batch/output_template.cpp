#include "driver/batch/output_template.h"

#include <filesystem>
#include <string_view>

namespace {

// A folder below whatever fixed folder leads the template: normal, with its
// root and its leading ".." steps left out; "." when nothing is left.
std::string Below(const std::string& folder) {
  const std::filesystem::path normal =
      std::filesystem::path(folder).lexically_normal().relative_path();
  std::filesystem::path kept;
  bool climbing = true;
  for (const std::filesystem::path& step : normal) {
    climbing = climbing && step == "..";
    if (!climbing && !step.empty() && step != ".") kept /= step;
  }
  return kept.empty() ? std::string(".") : kept.string();
}

// Whether the text before the first placeholder holds a folder.
bool FixedLeadingFolder(const std::string& templ) {
  return templ.substr(0, templ.find('{')).find('/') != std::string::npos;
}

// The placeholders that depend on options: {size} and {ext}.
struct Known {
  bool sizes = false;
  bool formats = false;
};

// The input's file name, its folder left out.
std::string FileName(const std::string& input) {
  const size_t slash = input.rfind('/');
  return slash == std::string::npos ? input : input.substr(slash + 1);
}

// Where the file name's last extension begins (its dot), or npos: a name
// that begins with its only dot (".profile") has none.
size_t ExtensionDot(const std::string& file) {
  const size_t dot = file.rfind('.');
  return dot == 0 ? std::string::npos : dot;
}

// The "//sizes" entry as a name writes it: the colon before a box rule,
// which a URL reads as its scheme and some shells as a separator, becomes a
// hyphen ("200x200:fill" gives "200x200-fill").
// A srcset width ("1280w") is named by the width written, so that under
// "//no-enlarge" the entries a narrow source cuts to its own width share one
// name, and one file.
std::string SizeInName(std::string entry, int32_t width) {
  if (!entry.empty() && entry.back() == 'w') return std::to_string(width) + "w";
  for (char& c : entry) c = c == ':' ? '-' : c;
  return entry;
}

// The placeholder's value, or nothing for an unknown name.
std::optional<std::string> Value(std::string_view name, const TemplateValues* v, const Known& known,
                                 bool below) {
  if (name == "dir") {
    if (v == nullptr) return std::string();
    const size_t slash = v->input.rfind('/');
    if (slash == std::string::npos) return std::string(".");
    const std::string folder = slash == 0 ? std::string("/") : v->input.substr(0, slash);
    return below ? Below(folder) : folder;
  }
  if (name == "name" || name == "file" || name == "srcext") {
    if (v == nullptr) return std::string();
    const std::string file = FileName(v->input);
    const size_t dot = ExtensionDot(file);
    if (name == "file") return file;
    if (name == "srcext") return dot == std::string::npos ? std::string() : file.substr(dot + 1);
    return file.substr(0, dot);
  }
  if (name == "w") return v == nullptr ? std::string() : std::to_string(v->width);
  if (name == "h") return v == nullptr ? std::string() : std::to_string(v->height);
  if (name == "ext" && known.formats) return v == nullptr ? std::string() : v->ext;
  if (name == "size" && known.sizes)
    return v == nullptr ? std::string() : SizeInName(v->size, v->width);
  return std::nullopt;
}

// Walks the template; unknown gets the first unknown placeholder.
std::string Walk(const std::string& templ, const TemplateValues* v, const Known& known,
                 std::optional<std::string>* unknown) {
  std::string out;
  size_t at = 0;
  while (at < templ.size()) {
    const size_t open = templ.find('{', at);
    const size_t close = open == std::string::npos ? open : templ.find('}', open + 1);
    if (close == std::string::npos) break;
    // "{{name}": the first brace is text, the second opens.
    const size_t inner = templ.rfind('{', close);
    out.append(templ, at, inner - at);
    const std::string_view name = std::string_view(templ).substr(inner + 1, close - inner - 1);
    const std::optional<std::string> value = Value(name, v, known, FixedLeadingFolder(templ));
    if (!value) {
      if (unknown && !*unknown) *unknown = std::string(templ, inner, close - inner + 1);
      out.append(templ, inner, close - inner + 1);
    } else {
      out += *value;
    }
    at = close + 1;
  }
  out.append(templ, at, std::string::npos);
  return out;
}

}  // namespace

std::optional<std::string> UnknownPlaceholder(const std::string& templ, bool sizesGiven,
                                              bool formatsGiven) {
  std::optional<std::string> unknown;
  Walk(templ, nullptr, {sizesGiven, formatsGiven}, &unknown);
  if (!unknown) return std::nullopt;
  if (*unknown == "{size}") {
    return "Error: \"" + templ + "\": {size} in an output name needs //sizes\n";
  }
  if (*unknown == "{ext}") {
    return "Error: \"" + templ + "\": {ext} in an output name needs //formats\n";
  }
  return "Error: \"" + templ + "\": unknown placeholder " + *unknown +
         " (known: {dir} {name} {file} {srcext} {ext} {w} {h} {size})\n";
}

bool TemplateNeedsSize(const std::string& templ, bool srcsetWidths) {
  return templ.find("{w}") != std::string::npos || templ.find("{h}") != std::string::npos ||
         (srcsetWidths && templ.find("{size}") != std::string::npos);
}

std::string ExpandTemplate(const std::string& templ, const TemplateValues& values) {
  return Walk(templ, &values, {true, true}, nullptr);
}
