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

// The placeholder's value, or nothing for an unknown name.
std::optional<std::string> Value(std::string_view name, const TemplateValues* v, bool sizesGiven,
                                 bool below) {
  if (name == "dir" || name == "name") {
    if (v == nullptr) return std::string();
    const size_t slash = v->input.rfind('/');
    if (name == "dir") {
      if (slash == std::string::npos) return std::string(".");
      const std::string folder = slash == 0 ? std::string("/") : v->input.substr(0, slash);
      return below ? Below(folder) : folder;
    }
    const std::string file = slash == std::string::npos ? v->input : v->input.substr(slash + 1);
    const size_t dot = file.rfind('.');
    return dot == std::string::npos || dot == 0 ? file : file.substr(0, dot);
  }
  if (name == "w") return v == nullptr ? std::string() : std::to_string(v->width);
  if (name == "h") return v == nullptr ? std::string() : std::to_string(v->height);
  if (name == "size" && sizesGiven) return v == nullptr ? std::string() : v->size;
  return std::nullopt;
}

// Walks the template; unknown gets the first unknown placeholder.
std::string Walk(const std::string& templ, const TemplateValues* v, bool sizesGiven,
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
    const std::optional<std::string> value = Value(name, v, sizesGiven, FixedLeadingFolder(templ));
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

std::optional<std::string> UnknownPlaceholder(const std::string& templ, bool sizesGiven) {
  std::optional<std::string> unknown;
  Walk(templ, nullptr, sizesGiven, &unknown);
  if (!unknown) return std::nullopt;
  if (*unknown == "{size}") {
    return "Error: \"" + templ + "\": {size} in an output name needs //sizes\n";
  }
  return "Error: \"" + templ + "\": unknown placeholder " + *unknown +
         " (known: {dir} {name} {w} {h} {size})\n";
}

bool TemplateNeedsSize(const std::string& templ) {
  return templ.find("{w}") != std::string::npos || templ.find("{h}") != std::string::npos;
}

std::string ExpandTemplate(const std::string& templ, const TemplateValues& values) {
  return Walk(templ, &values, true, nullptr);
}
