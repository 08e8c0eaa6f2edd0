#include <jxl/decode.h>

#include <cstring>

#include "codecs/jxl/jxl_codec.h"

std::string JxlCodecName() {
  const uint32_t version = JxlDecoderVersion();  // 7000 for 0.7.0
  return "JPEG XL (libjxl " + std::to_string(version / 1000000) + "." +
         std::to_string(version / 1000 % 1000) + "." + std::to_string(version % 1000) + ")";
}

bool IsJxlFile(ByteSpan file) {
  const JxlSignature signature = JxlSignatureCheck(file.data(), file.size());
  return signature == JXL_SIG_CODESTREAM || signature == JXL_SIG_CONTAINER;
}
