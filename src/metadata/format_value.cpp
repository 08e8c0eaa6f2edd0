#include "metadata/format_value.h"

#include <algorithm>
#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/big_endian.h"
#include "metadata/meta_tags.h"

namespace {

// Appends to a fixed buffer, keeping count of the space left. A piece that
// does not fit is cut so that the terminating zero always fits.
class TextWriter {
 public:
  explicit TextWriter(std::span<char, kMetaValueBufferSize> buffer) : buffer_(buffer) {
    buffer_[0] = '\0';
  }

  size_t left() const { return buffer_.size() - used_; }

  __attribute__((format(printf, 2, 3))) size_t Append(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int written = std::vsnprintf(buffer_.data() + used_, left(), format, args);
    va_end(args);
    if (written < 0) {
      buffer_[used_] = '\0';
      return 0;
    }
    size_t length = std::min(size_t(written), left() - 1);
    used_ += length;
    return length;
  }

  void AppendBytes(std::span<const uint8_t> bytes) {
    size_t length = std::min(bytes.size(), left() - 1);
    std::memcpy(buffer_.data() + used_, bytes.data(), length);
    used_ += length;
    buffer_[used_] = '\0';
  }

 private:
  std::span<char, kMetaValueBufferSize> buffer_;
  size_t used_ = 0;
};

struct ListLayout {
  size_t elementSize;
  size_t threshold;  // below this much space no further element is begun
};

ListLayout LayoutOf(MetaDataKind kind) {
  switch (kind) {
    case kMetaUInt8:
      return {1, 9};
    case kMetaSInt16:
      return {2, 12};
    case kMetaSInt32:
      return {4, 17};
    case kMetaRational:
      return {8, 29};
    case kMetaDouble:
      return {8, 30};
    default:
      return {0, 0};
  }
}

enum class Piece { kSingle, kFirst, kNext };

// The text of one element, which holds at least the element size of kind.
// Doubles use "%f" alone and "%g" within a list.
void ElementText(MetaDataKind kind, const uint8_t* element, Piece piece, char (&text)[400]) {
  switch (kind) {
    case kMetaUInt8:
      std::snprintf(text, sizeof text, "%hhu", element[0]);
      break;
    case kMetaSInt16:
      std::snprintf(text, sizeof text, "%hd", int16_t(ReadBigEndian16(element)));
      break;
    case kMetaSInt32:
      std::snprintf(text, sizeof text, "%d", int32_t(ReadBigEndian32(element)));
      break;
    case kMetaRational: {
      auto numerator = int32_t(ReadBigEndian32(element));
      auto denominator = int32_t(ReadBigEndian32(element + 4));
      if (denominator == 1) {
        std::snprintf(text, sizeof text, "%d", numerator);
      } else {
        std::snprintf(text, sizeof text, "%d/%d", numerator, denominator);
      }
      break;
    }
    case kMetaDouble: {
      double value = std::bit_cast<double>(ReadBigEndian64(element));
      std::snprintf(text, sizeof text, piece == Piece::kSingle ? "%f" : "%g", value);
      break;
    }
    default:
      text[0] = '\0';
      break;
  }
}

void FormatList(MetaDataKind kind, std::span<const uint8_t> item, TextWriter& out) {
  const ListLayout layout = LayoutOf(kind);
  const size_t n = item.size();
  char text[400];
  if (n <= layout.elementSize) {
    ElementText(kind, item.data(), Piece::kSingle, text);
    out.Append("%s", text);
    return;
  }
  const size_t count = n / layout.elementSize;  // an incomplete last element is ignored
  size_t lineLength = 0;
  for (size_t i = 0;; ++i) {
    const uint8_t* element = item.data() + i * layout.elementSize;
    if (i == 0) {
      ElementText(kind, element, Piece::kFirst, text);
      lineLength = out.Append("{ %s", text);
    } else {
      ElementText(kind, element, Piece::kNext, text);
      char separator = ' ';
      if (lineLength >= 100) {
        separator = '\n';
        lineLength = 0;
      }
      lineLength += out.Append(",%c%s", separator, text);
    }
    if (i + 1 == count) {
      out.Append(" }");
      break;
    }
    if (out.left() < layout.threshold) {
      out.Append("...");
      break;
    }
  }
}

void FormatShortOrLong(std::span<const uint8_t> item, TextWriter& out) {
  if (item.size() >= 4) {
    out.Append("%d", int32_t(ReadBigEndian32(item.data())));
  } else {
    out.Append("%d", int16_t(ReadBigEndian16(item.data())));
  }
}

// One element's worth of bytes, below which the value cannot be read.
size_t MinimumSize(MetaDataKind kind) {
  switch (kind) {
    case kMetaShortOrLong:
      return 2;
    case kMetaUInt8:
    case kMetaSInt16:
    case kMetaSInt32:
    case kMetaRational:
    case kMetaDouble:
      return LayoutOf(kind).elementSize;
    default:
      return 0;
  }
}

}  // namespace

size_t MetaDataElementSize(MetaDataKind kind) {
  return LayoutOf(kind).elementSize;
}

std::string MetaDataElementText(MetaDataKind kind, const uint8_t* element, bool alone) {
  char text[400];
  ElementText(kind, element, alone ? Piece::kSingle : Piece::kNext, text);
  return text;
}

OSErr FormatMetaDataValue(OSType type, std::span<const uint8_t> item,
                          std::span<char, kMetaValueBufferSize> buffer, std::string_view* name) {
  TextWriter out(buffer);
  const MetaDataTag& tag = LookupMetaDataTag(type);
  *name = tag.name;
  if (tag.type == 0) return kMetaUnknownType;
  if (item.empty()) return noErr;
  if (tag.kind == kMetaOpaque || item.size() < MinimumSize(tag.kind)) return kMetaShowAsBytes;

  switch (tag.kind) {
    case kMetaText:
      out.AppendBytes(item);
      break;
    case kMetaShortOrLong:
      FormatShortOrLong(item, out);
      break;
    case kMetaUInt8:
    case kMetaSInt16:
    case kMetaSInt32:
    case kMetaRational:
    case kMetaDouble:
      FormatList(tag.kind, item, out);
      break;
    default:
      return kMetaShowAsBytes;  // a kind this code does not know: show the bytes
  }
  return out.left() <= 1 ? kMetaTruncated : noErr;
}
