#include "metadata/hex_dump.h"

#include "metadata/meta_tags.h"

namespace {

constexpr size_t kBytesPerLine = 32;
constexpr int kPrefixWidth = 46;  // "%28s [%5d bytes]: { "

void PrintPrintable(std::FILE* out, std::span<const uint8_t> bytes) {
  for (uint8_t byte : bytes) std::fputc(PrintableChar(byte), out);
}

}  // namespace

std::string MadeUpMetaDataLabel(OSType type) {
  char label[32];
  std::snprintf(label, sizeof label, "%c%c%c%c [%5u]", PrintableChar(uint8_t(type >> 24)),
                PrintableChar(uint8_t(type >> 16)), PrintableChar(uint8_t(type >> 8)),
                PrintableChar(uint8_t(type)), unsigned(type & 0xFFFF));
  return label;
}

void PrintMetaDataHexDump(std::FILE* out, std::string_view label, std::span<const uint8_t> item) {
  const size_t n = item.size();
  std::fprintf(out, "%28.*s [%5zu bytes]: { ", int(label.size()), label.data(), n);
  for (size_t j = 0; j < n; ++j) {
    if (j > 0 && j % kBytesPerLine == 0) {
      std::fputc(' ', out);
      PrintPrintable(out, item.subspan(j - kBytesPerLine, kBytesPerLine));
      std::fprintf(out, "\n%*s", kPrefixWidth, "");
    }
    std::fprintf(out, "%02X", item[j]);
  }
  // Pad the last line so that its printable column lines up with the others.
  const size_t lastLineBytes = n == 0 ? 0 : (n - 1) % kBytesPerLine + 1;
  const int padding = int(2 * (kBytesPerLine - lastLineBytes) + 1);
  std::fprintf(out, "%*s", padding, "");
  PrintPrintable(out, item.last(lastLineBytes));
  std::fputs(" }\n", out);
}
