#include "driver/batch/report_line.h"

#include <cstdio>

#include "metadata/drop_items.h"

namespace {

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

// {"colour": "#rrggbb", "preview": "data:..."}, either null when it could
// not be had; null for no output.
std::string PlaceholderObject(const std::optional<Placeholder>& p) {
  if (!p) return "null";
  JsonObject object;
  p->colour.empty() ? object.Null("colour") : object.String("colour", p->colour);
  p->preview.empty() ? object.Null("preview") : object.String("preview", p->preview);
  return object.Done();
}

// The quality chosen, the file's bytes, the similarity reached (null for
// a byte budget) and the encodes tried.
std::string QualitySearch(const QualityChoice& chosen) {
  JsonObject search;
  search.Number("quality", chosen.percent).Number("bytes", int64_t(chosen.bytes));
  if (chosen.score >= 0) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", chosen.score);
    search.Raw("similarity", text);
  } else {
    search.Null("similarity");
  }
  return search.Number("trials", chosen.trials).Done();
}

}  // namespace

std::string ReportLine(const ReportRecord& r) {
  JsonObject line;
  if (r.id) line.Number("id", *r.id);
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
  if (r.crop) {
    line.Raw("crop", JsonObject().Number("left", r.crop->left).Number("top", r.crop->top).Done());
  }
  if (r.placeholderAsked) line.Raw("placeholder", PlaceholderObject(r.placeholder));
  if (r.chosen) line.Raw("quality_search", QualitySearch(*r.chosen));
  return line.Done() + "\n";
}
