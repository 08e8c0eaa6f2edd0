#include "platform/handle.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// The data pointer comes first, so that a Handle (char**) points at it.
struct HandleRecord {
  char* data = nullptr;
  size_t size = 0;
};

HandleRecord* Record(Handle h) {
  return reinterpret_cast<HandleRecord*>(h);
}

}  // namespace

Handle NewHandle(size_t size) {
  auto* rec = new (std::nothrow) HandleRecord;
  if (rec == nullptr) return nullptr;
  if (size > 0) {
    rec->data = static_cast<char*>(std::calloc(size, 1));
    if (rec->data == nullptr) {
      delete rec;
      return nullptr;
    }
  }
  rec->size = size;
  return &rec->data;
}

void DisposeHandle(Handle h) {
  if (h == nullptr) return;
  std::free(Record(h)->data);
  delete Record(h);
}

size_t GetHandleSize(Handle h) {
  return h ? Record(h)->size : 0;
}

OSErr SetHandleSize(Handle h, size_t size) {
  if (h == nullptr) return paramErr;
  HandleRecord* rec = Record(h);
  if (size == rec->size) return noErr;
  if (size == 0) {
    std::free(rec->data);
    rec->data = nullptr;
    rec->size = 0;
    return noErr;
  }
  char* grown = static_cast<char*>(std::realloc(rec->data, size));
  if (grown == nullptr) return memFullErr;
  if (size > rec->size) std::memset(grown + rec->size, 0, size - rec->size);
  rec->data = grown;
  rec->size = size;
  return noErr;
}

// Blocks never move while in use here, so locking has nothing to do.
void HLock(Handle) {}
void HUnlock(Handle) {}

OSErr PtrAndHand(const void* data, Handle h, size_t size) {
  if (h == nullptr) return paramErr;
  size_t old = Record(h)->size;
  if (size > SIZE_MAX - old) return memFullErr;
  if (OSErr err = SetHandleSize(h, old + size)) return err;
  if (size > 0) std::memcpy(*h + old, data, size);
  return noErr;
}

OSErr PtrToXHand(const void* data, Handle h, size_t size) {
  if (h == nullptr) return paramErr;
  if (OSErr err = SetHandleSize(h, size)) return err;
  if (size > 0) std::memcpy(*h, data, size);
  return noErr;
}

void BlockMoveData(const void* src, void* dst, size_t size) {
  if (size > 0) std::memmove(dst, src, size);
}
