#include "stream/byte_sink.h"

#include <algorithm>
#include <cstring>
#include <exception>

OSErr ByteSink::Append(const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (file_ != nullptr) return file_->Write({bytes, size});
  try {
    memory_->insert(memory_->end(), bytes, bytes + size);
  } catch (const std::exception&) {  // bad_alloc or length_error
    return memFullErr;
  }
  return noErr;
}

OSErr ByteSink::WriteAt(uint64_t offset, const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (file_ != nullptr) return file_->WriteAt(offset, {bytes, size});
  if (size == 0) return noErr;
  try {
    if (offset + size > memory_->size()) memory_->resize(size_t(offset + size));
  } catch (const std::exception&) {
    return memFullErr;
  }
  std::memcpy(memory_->data() + offset, bytes, size);
  return noErr;
}

OSErr ByteSink::ReadAt(uint64_t offset, void* data, size_t size, size_t* got) {
  if (file_ != nullptr) return file_->ReadAt(offset, {static_cast<uint8_t*>(data), size}, got);
  *got = 0;
  if (offset >= memory_->size()) return noErr;
  *got = size_t(std::min<uint64_t>(size, memory_->size() - offset));
  std::memcpy(data, memory_->data() + offset, *got);
  return noErr;
}

uint64_t ByteSink::Size() const {
  return file_ != nullptr ? file_->Size() : memory_->size();
}
