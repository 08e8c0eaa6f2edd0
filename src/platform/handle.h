// Relocatable memory blocks: a Handle points at the block's data pointer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/mac_types.h"

using Handle = char**;

Handle NewHandle(size_t size);  // nullptr when the memory cannot be had
void DisposeHandle(Handle h);
size_t GetHandleSize(Handle h);
OSErr SetHandleSize(Handle h, size_t size);
void HLock(Handle h);
void HUnlock(Handle h);
// Appends size bytes to the handle.
OSErr PtrAndHand(const void* data, Handle h, size_t size);
// Replaces the handle's contents with size bytes.
OSErr PtrToXHand(const void* data, Handle h, size_t size);
void BlockMoveData(const void* src, void* dst, size_t size);
