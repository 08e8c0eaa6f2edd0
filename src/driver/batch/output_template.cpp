#include "driver/batch/output_template.h"

#include <string_view>

namespace {

// The placeholder's value, or nothing for an unknown name.
std::optional<std::string> Value(std::string_view name, const TemplateValues* v, bool sizesGiven) {
  if (name == "dir" || name == "name") {
    if (v == nullptr) return std::string();
    const size_t slash = v->input.rfind('/');
    if (name == "dir") {
      if (slash == std::string::npos) return std::string(".");
      return slash == 0 ? std::string("/") : v->input.substr(0, slash);
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
    const std::optional<std::string> value = Value(name, v, sizesGiven);
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

std::string ExpandTemplate(const std::string& templ, const TemplateValues& values) {
  return Walk(templ, &values, true, nullptr);
}
