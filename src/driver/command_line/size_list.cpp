#include "driver/command_line/size_list.h"

#include "driver/command_line/number_text.h"

bool ParseSizeEntry(std::string_view text, SizeEntry* entry) {
  SizeEntry e;
  e.text = std::string(text);
  std::string_view sides = text;
  // "320w": a srcset's width, the aspect kept, as "320" sizes it.
  if (!text.empty() && text.back() == 'w') {
    if (!ReadPositive(text.substr(0, text.size() - 1), &e.width)) return false;
    e.srcsetWidth = true;
    *entry = std::move(e);
    return true;
  }
  const size_t colon = text.find(':');
  if (colon != std::string_view::npos) {
    const std::string_view rule = text.substr(colon + 1);
    if (rule == "fit") {
      e.rule = BoxRule::kFit;
    } else if (rule == "fill") {
      e.rule = BoxRule::kFill;
    } else {
      return false;
    }
    sides = text.substr(0, colon);
  }
  const size_t x = sides.find('x');
  if (x == std::string_view::npos) {
    if (e.rule != BoxRule::kNone || !ReadPositive(sides, &e.width)) return false;
  } else {
    const std::string_view width = sides.substr(0, x);
    if (!width.empty() && !ReadPositive(width, &e.width)) return false;
    if (!ReadPositive(sides.substr(x + 1), &e.height)) return false;
    if (e.rule != BoxRule::kNone && e.width == 0) return false;
  }
  *entry = std::move(e);
  return true;
}

void ApplySizeEntry(const SizeEntry& entry, JobSettings* s) {
  s->percentScale = 0;
  s->boxRule = entry.rule;
  if (entry.rule == BoxRule::kNone) {
    s->width = entry.width;
    s->height = entry.height;
    s->boxWidth = s->boxHeight = 0;
  } else {
    s->width = s->height = 0;
    s->boxWidth = entry.width;
    s->boxHeight = entry.height;
  }
}
