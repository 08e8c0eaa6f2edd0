#include "codecs/jxl/jxl_codec.h"

#include "codecs/jxl/jxl_library.h"

std::string JxlCodecName() {
  const JxlLibrary* jxl = LoadJxl();
  if (jxl == nullptr) return "JPEG XL (libjxl not loaded)";
  const uint32_t version = jxl->DecoderVersion();  // 7000 for 0.7.0
  return "JPEG XL (libjxl " + std::to_string(version / 1000000) + "." +
         std::to_string(version / 1000 % 1000) + "." + std::to_string(version % 1000) + ")";
}

bool IsJxlFile(ByteSpan file) {
  // Both signatures start with 0xFF (a codestream) or 0x00 (a container's
  // first box): any other file is turned away without loading libjxl. Without
  // libjxl the files are no one's, as if the codec were not built in.
  if (file.empty() || (file[0] != 0xFF && file[0] != 0x00) || LoadJxl() == nullptr) return false;
  const JxlSignature signature = Jxl().SignatureCheck(file.data(), file.size());
  return signature == JXL_SIG_CODESTREAM || signature == JXL_SIG_CONTAINER;
}

bool JxlLoads() {
  return LoadJxl() != nullptr;
}
