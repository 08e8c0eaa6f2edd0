// Output names from a template ("/o" with "//sizes", "//each" or
// "//inputs"): {dir} the input's folder as given ("." when none), {name} its
// file name without the last extension, {file} its file name whole,
// {srcext} its last extension without the dot (empty when none), {ext} the
// output codec's usual extension ("//formats": "avif", "webp", "jpg"), {w} and
// {h} the size written (after turns), {size} the "//sizes" entry with its
// colon written as a hyphen ("200x200-fill"), a srcset width ("1280w") as
// the width written ("1000w" from a 1000-wide source under "//no-enlarge"). Other text is kept as
// it stands, a brace without its partner too. Where the template begins with a fixed folder
// ("out/{dir}/{name}.jpg"), {dir} stays below it: the folder made relative, its root and every ".."
// step left out ("../../x.jpg" and
// "/x.jpg" give "out/./x.jpg").
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct TemplateValues {
  std::string input;  // the input as given
  int32_t width = 0;  // written, after turns
  int32_t height = 0;
  std::string size;  // the "//sizes" entry as written; empty without
  std::string ext;   // the codec's usual extension under "//formats"; empty without
};

// The error line for the first placeholder the template does not know
// ({size} is known only with "//sizes", {ext} only with "//formats"), or
// nothing when all are known.
std::optional<std::string> UnknownPlaceholder(const std::string& templ, bool sizesGiven,
                                              bool formatsGiven);

// Whether a name from the template needs the size written: {w} or {h}, or
// {size} where an entry is a srcset width.
bool TemplateNeedsSize(const std::string& templ, bool srcsetWidths);

// The template with every placeholder replaced (all known, as checked).
std::string ExpandTemplate(const std::string& templ, const TemplateValues& values);
