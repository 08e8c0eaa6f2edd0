// The report's JSON, from records filled by hand, and the names an output
// template gives.
#include <gtest/gtest.h>

#include "driver/batch/output_template.h"
#include "driver/batch/report_line.h"
#include "metadata/drop_items.h"

namespace {

TEST(ReportLine, StringsAreEscapedAndInvalidUtf8Replaced) {
  const struct {
    std::string text;
    std::string json;
  } cases[] = {
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"tab\tnl\ncr\r\x01\x1f\x7f", "\"tab\\tnl\\ncr\\r\\u0001\\u001f\\u007f\""},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7",
       "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7\""},
      {"\xff"
       "a\xc3",
       "\"\\ufffda\\ufffd\""},                        // a stray byte, a cut-off sequence
      {"\xc0\xaf", "\"\\ufffd\\ufffd\""},             // an overlong "/"
      {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},  // a UTF-16 surrogate
  };
  for (const auto& c : cases) EXPECT_EQ(JsonString(c.text), c.json) << c.text;
}

TEST(ReportLine, AFilledRecordGivesEveryField) {
  ReportRecord r;
  r.input = "in/IMG_1.jpg";
  r.output = "out/IMG_1-320.webp";
  r.sourceKnown = true;
  r.sourceWidth = 6000;
  r.sourceHeight = 4000;
  r.sourceCodec = "JPEG";
  r.sizeKnown = true;
  r.width = 320;
  r.height = 213;
  r.codec = "WebP";
  r.bits = 8;
  r.bytes = 12345;
  r.seconds = 0.25;
  r.upright = 6;
  r.metadataCopied = true;
  r.metadataDropped = kAllDropItems & ~(kDropExif | kDropIcc);
  r.facts.warnings = {"Corrupt JPEG data: 40 extraneous bytes", "second"};
  r.facts.profileConvertedFrom = "Adobe RGB (1998)";
  r.facts.gainMap = GainMapFate::kLeftOut;
  EXPECT_EQ(ReportLine(r),
            "{\"version\":1,\"input\":\"in/IMG_1.jpg\",\"output\":\"out/IMG_1-320.webp\","
            "\"status\":\"ok\",\"code\":0,\"message\":null,"
            "\"source\":{\"width\":6000,\"height\":4000,\"codec\":\"JPEG\"},"
            "\"width\":320,\"height\":213,\"codec\":\"WebP\",\"bits\":8,\"bytes\":12345,"
            "\"seconds\":0.250,\"upright\":6,"
            "\"profile\":{\"converted_from\":\"Adobe RGB (1998)\",\"kept\":false},"
            "\"metadata\":{\"kept\":[\"exif\",\"icc\"],\"dropped\":[\"gps\",\"makernotes\","
            "\"xmp\",\"iptc\",\"comment\",\"gainmap\",\"copyright\"]},"
            "\"gain_map\":\"left_out\","
            "\"warnings\":[\"Corrupt JPEG data: 40 extraneous bytes\",\"second\"]}\n");

  ReportRecord failed;
  failed.input = "x.jpg";
  failed.status = ReportStatus::kFailed;
  failed.code = -43;
  failed.message = "Error: \"x.jpg\": file not found (-43)";
  failed.facts.profileKept = true;
  failed.facts.gainMap = GainMapFate::kFitted;
  EXPECT_EQ(ReportLine(failed),
            "{\"version\":1,\"input\":\"x.jpg\",\"output\":null,\"status\":\"failed\","
            "\"code\":-43,\"message\":\"Error: \\\"x.jpg\\\": file not found (-43)\","
            "\"source\":null,\"width\":null,\"height\":null,\"codec\":null,\"bits\":null,"
            "\"bytes\":null,\"seconds\":null,\"upright\":null,"
            "\"profile\":{\"converted_from\":null,\"kept\":true},\"metadata\":null,"
            "\"gain_map\":\"fitted\",\"warnings\":[]}\n");
}

TEST(OutputTemplate, PlaceholdersTakeTheInputsPartsAndTheSize) {
  const struct {
    std::string input;
    std::string expanded;
  } cases[] = {
      {"photos/2024/IMG_1.tar.jpg", "photos/2024|IMG_1.tar|IMG_1.tar.jpg|jpg|30x20|640-fit"},
      {"IMG_1.jpg", ".|IMG_1|IMG_1.jpg|jpg|30x20|640-fit"},
      {"/IMG_1", "/|IMG_1|IMG_1||30x20|640-fit"},
      {"a/.hidden", "a|.hidden|.hidden||30x20|640-fit"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExpandTemplate("{dir}|{name}|{file}|{srcext}|{w}x{h}|{size}",
                             {c.input, 30, 20, "640:fit", ""}),
              c.expanded);
  }
  // Braces that open no placeholder stay as they are.
  EXPECT_EQ(ExpandTemplate("{{name}} {", {"a.jpg", 1, 1, "", ""}), "{a} {");
  EXPECT_EQ(UnknownPlaceholder("{{name}} {", false, false), std::nullopt);
  EXPECT_NE(UnknownPlaceholder("{name}{W}", true, true), std::nullopt);
}

}  // namespace
