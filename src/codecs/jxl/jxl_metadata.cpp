#include "codecs/jxl/jxl_metadata.h"

#include <exiv2/exif.hpp>

#include <cstring>
#include <vector>

#include "base/big_endian.h"
#include "base/item_types.h"
#include "codecs/jxl/jxl_decoder.h"
#include "metadata_blocks/exif_items.h"
#include "metadata_blocks/item_access.h"

namespace {

// Beyond this a box is taken for a decompression bomb and left out.
constexpr size_t kLargestBox = size_t(64) << 20;
constexpr size_t kFirstBoxBuffer = size_t(64) << 10;

// The profile of the samples the importer delivers: none for sRGB; else the
// profile the file embeds, or libjxl's rendering of its coded colour space
// as a profile. (Lossy files are delivered in sRGB.)
void AddIccProfile(JxlDecoder* decoder, UserData ud) {
  JxlColorEncoding encoding;
  if (Jxl().DecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                            &encoding) == JXL_DEC_SUCCESS &&
      encoding.white_point == JXL_WHITE_POINT_D65 && encoding.primaries == JXL_PRIMARIES_SRGB &&
      encoding.transfer_function == JXL_TRANSFER_FUNCTION_SRGB) {
    return;
  }
  size_t size = 0;
  if (Jxl().DecoderGetICCProfileSize(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) !=
          JXL_DEC_SUCCESS ||
      size == 0) {
    return;
  }
  std::vector<uint8_t> icc(size);
  if (Jxl().DecoderGetColorAsICCProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, icc.data(),
                                        size) == JXL_DEC_SUCCESS) {
    AppendItem(ud, kIccItem, icc, 0);
  }
}

// The box being read: its type and what libjxl has written of it.
struct BoxReading {
  char type[4] = {};
  std::vector<uint8_t> bytes;
  bool open = false;
};

void FinishBox(JxlDecoder* decoder, BoxReading* box, UserData ud) {
  if (!box->open) return;
  box->open = false;
  box->bytes.resize(box->bytes.size() - Jxl().DecoderReleaseBoxBuffer(decoder));
  if (std::memcmp(box->type, "Exif", 4) == 0) {
    AddExifBlockItems(box->bytes, ud);
  } else {
    AppendItem(ud, kXmpItem, box->bytes, 0);
  }
}

}  // namespace

OSErr ReadJxlMetaData(ByteSpan file, UserData ud) {
  if (ud == nullptr) return paramErr;
  OwnedJxlDecoder decoder;
  if (StartJxlDecoder(file, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_BOX, &decoder))
    return noErr;
  Jxl().DecoderSetDecompressBoxes(decoder.get(), JXL_TRUE);
  BoxReading box;
  try {
    for (;;) {
      const JxlDecoderStatus status = Jxl().DecoderProcessInput(decoder.get());
      if (status == JXL_DEC_BASIC_INFO) continue;
      if (status == JXL_DEC_COLOR_ENCODING) {
        PreferSrgbSamples(decoder.get());
        AddIccProfile(decoder.get(), ud);
      } else if (status == JXL_DEC_BOX) {
        FinishBox(decoder.get(), &box, ud);
        JxlBoxType type;
        if (Jxl().DecoderGetBoxType(decoder.get(), type, JXL_TRUE) != JXL_DEC_SUCCESS) continue;
        if (std::memcmp(type, "Exif", 4) != 0 && std::memcmp(type, "xml ", 4) != 0) continue;
        std::memcpy(box.type, type, 4);
        box.bytes.assign(kFirstBoxBuffer, 0);
        box.open = Jxl().DecoderSetBoxBuffer(decoder.get(), box.bytes.data(), box.bytes.size()) ==
                   JXL_DEC_SUCCESS;
      } else if (status == JXL_DEC_BOX_NEED_MORE_OUTPUT && box.open) {
        const size_t used = box.bytes.size() - Jxl().DecoderReleaseBoxBuffer(decoder.get());
        if (box.bytes.size() >= kLargestBox) {
          box.open = false;
          continue;
        }
        box.bytes.resize(box.bytes.size() * 2);
        Jxl().DecoderSetBoxBuffer(decoder.get(), box.bytes.data() + used, box.bytes.size() - used);
      } else {
        FinishBox(decoder.get(), &box, ud);  // the end, or damage: what was read is kept
        break;
      }
    }
  } catch (const std::exception&) {
    // Metadata that cannot be read is left out.
  }
  // Drawn with the codestream's orientation applied.
  MarkExifOrientationUpright(ud);
  return noErr;
}
