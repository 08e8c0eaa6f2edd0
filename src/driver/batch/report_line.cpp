#include "driver/batch/report_line.h"

#include <cstdio>

#include "metadata/drop_items.h"

namespace {

// The length of the valid UTF-8 sequence at text[at], or 0 for none.
size_t Utf8Length(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return uint8_t(text[i]); };
  const uint8_t lead = byte(at);
  size_t length = 0;
  uint32_t low = 0;  // the least code point of that length: no overlong forms
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, low = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, low = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, low = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  uint32_t point = lead & (0x3F >> (length - 1));
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    point = (point << 6) | (byte(at + i) & 0x3F);
  }
  if (point < low || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return 0;
  return length;
}

class JsonObject {
 public:
  JsonObject& Raw(const char* key, const std::string& value) {
    if (text_.size() > 1) text_ += ',';
    text_ += JsonString(key);
    text_ += ':';
    text_ += value;
    return *this;
  }
  JsonObject& Number(const char* key, int64_t value) { return Raw(key, std::to_string(value)); }
  JsonObject& String(const char* key, const std::string& value) {
    return Raw(key, JsonString(value));
  }
  JsonObject& Null(const char* key) { return Raw(key, "null"); }
  std::string Done() { return text_ + "}"; }

 private:
  std::string text_ = std::string(1, '{');  // not = "{": GCC 12 warns wrongly on that
};

const char* StatusWord(ReportStatus status) {
  switch (status) {
    case ReportStatus::kOk:
      return "ok";
    case ReportStatus::kFailed:
      return "failed";
    case ReportStatus::kSkipped:
      return "skipped";
    case ReportStatus::kInterrupted:
      return "interrupted";
  }
  return "failed";
}

std::string KindList(uint32_t kinds) {
  std::string list = "[";
  for (uint32_t kind = 1; kind <= kAllDropItems; kind <<= 1) {
    if ((kinds & kind) == 0) continue;
    if (list.size() > 1) list += ',';
    list += JsonString(WordForDropItem(kind));
  }
  return list + "]";
}

std::string Metadata(const ReportRecord& r) {
  if (!r.metadataCopied) return "null";
  return JsonObject()
      .Raw("kept", KindList(kAllDropItems & ~r.metadataDropped))
      .Raw("dropped", KindList(r.metadataDropped))
      .Done();
}

std::string Profile(const JobFacts& facts) {
  if (facts.profileConvertedFrom.empty() && !facts.profileKept) return "null";
  JsonObject profile;
  if (facts.profileConvertedFrom.empty()) {
    profile.Null("converted_from");
  } else {
    profile.String("converted_from", facts.profileConvertedFrom);
  }
  return profile.Raw("kept", facts.profileKept ? "true" : "false").Done();
}

std::string GainMap(GainMapFate fate) {
  switch (fate) {
    case GainMapFate::kNone:
      return "null";
    case GainMapFate::kFitted:
      return JsonString("fitted");
    case GainMapFate::kLeftOut:
      return JsonString("left_out");
  }
  return "null";
}

std::string Warnings(const std::vector<std::string>& warnings) {
  std::string list = "[";
  for (const std::string& warning : warnings) {
    if (list.size() > 1) list += ',';
    list += JsonString(warning);
  }
  return list + "]";
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (size_t at = 0; at < text.size();) {
    const uint8_t c = uint8_t(text[at]);
    if (c >= 0x80) {
      const size_t length = Utf8Length(text, at);
      if (length == 0) {
        out += "\\ufffd";
        ++at;
      } else {
        out.append(text, at, length);
        at += length;
      }
      continue;
    }
    ++at;
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

std::string InterruptedLine() {
  ReportRecord r;
  r.status = ReportStatus::kInterrupted;
  r.code = -128;  // the user cancelled
  r.message = "Interrupted: outputs written after the line before this are not listed";
  return ReportLine(r);
}

namespace {

// The scale as a number: 1, 0.5, 0.25 or 0.125, exactly.
std::string DecodeScale(int32_t scale) {
  switch (scale) {
    case 2:
      return "0.5";
    case 4:
      return "0.25";
    case 8:
      return "0.125";
    default:
      return "1";
  }
}

}  // namespace

std::string ReportLine(const ReportRecord& r) {
  JsonObject line;
  line.Number("version", kReportVersion);
  r.input ? line.String("input", *r.input) : line.Null("input");
  r.output ? line.String("output", *r.output) : line.Null("output");
  line.String("status", StatusWord(r.status)).Number("code", r.code);
  r.message ? line.String("message", *r.message) : line.Null("message");
  if (r.sourceKnown) {
    JsonObject source;
    source.Number("width", r.sourceWidth).Number("height", r.sourceHeight);
    r.sourceCodec.empty() ? source.Null("codec") : source.String("codec", r.sourceCodec);
    line.Raw("source", source.Done());
  } else {
    line.Null("source");
  }
  if (r.sizeKnown) {
    line.Number("width", r.width).Number("height", r.height);
  } else {
    line.Null("width").Null("height");
  }
  r.codec.empty() ? line.Null("codec") : line.String("codec", r.codec);
  r.bits != 0 ? line.Number("bits", r.bits) : line.Null("bits");
  r.bytes ? line.Number("bytes", int64_t(*r.bytes)) : line.Null("bytes");
  r.seconds ? line.Raw("seconds", Seconds(*r.seconds)) : line.Null("seconds");
  r.upright ? line.Number("upright", *r.upright) : line.Null("upright");
  // Only asked for: every other line stays as it was.
  if (r.decodeScale) line.Raw("decode_scale", DecodeScale(*r.decodeScale));
  line.Raw("profile", Profile(r.facts));
  line.Raw("metadata", Metadata(r));
  line.Raw("gain_map", GainMap(r.facts.gainMap));
  line.Raw("warnings", Warnings(r.facts.warnings));
  return line.Done() + "\n";
}
