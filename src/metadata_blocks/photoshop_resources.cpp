#include "metadata_blocks/photoshop_resources.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/big_endian.h"

namespace {

constexpr std::array<const char*, 6> kSignatures = {"8BIM", "MeSa", "8B64", "AgHg", "PHUT", "DCSR"};
constexpr size_t kSignatureBytes = 4;
constexpr size_t kIdBytes = 2;
constexpr size_t kSizeBytes = 4;

bool IsSignature(const uint8_t* p) {
  return std::any_of(kSignatures.begin(), kSignatures.end(),
                     [p](const char* s) { return std::memcmp(p, s, kSignatureBytes) == 0; });
}

}  // namespace

bool PhotoshopBlockHoldsTogether(std::span<const uint8_t> block) {
  if (block.empty()) return false;
  size_t at = 0;
  while (at < block.size()) {
    const size_t left = block.size() - at;
    if (std::all_of(block.begin() + long(at), block.end(), [](uint8_t b) { return b == 0; })) {
      return at > 0;
    }
    if (left < kSignatureBytes + kIdBytes + 2 + kSizeBytes || !IsSignature(&block[at])) {
      return false;
    }
    size_t name = 1 + block[at + kSignatureBytes + kIdBytes];
    name += name % 2;
    const size_t sizeAt = kSignatureBytes + kIdBytes + name;
    if (left < sizeAt + kSizeBytes) return false;
    const size_t room = left - sizeAt - kSizeBytes;
    const uint32_t data = ReadBigEndian32(&block[at + sizeAt]);
    if (room < data) return false;
    // The last resource's padding byte may be missing.
    at += sizeAt + kSizeBytes + std::min<size_t>(room, size_t(data) + data % 2);
  }
  return true;
}
