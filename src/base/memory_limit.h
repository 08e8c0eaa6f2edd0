// The limit on pixel memory: the buffers held at once, together with a
// decoder's or an encoder's working memory, never exceed the machine's
// physical memory, or where it is less the room that the memory limit of
// the control group the process runs in (a container, a service) leaves,
// at which the kernel would kill the process rather than refuse an
// allocation (cgroup_memory.h). A size beyond it is refused before any of
// it is touched, so that a header claiming a vast image cannot make the
// machine swap itself to a halt, nor a container kill the run.
#pragma once

#include <cstdint>

// The lower of the machine's physical memory and the group's room, as it
// was when first asked, in bytes (or the test override).
uint64_t MemoryLimitBytes();

// Counts bytes as held by a pixel buffer, unless the bytes already held plus
// these would exceed the limit; then counts nothing and answers false.
bool ReservePixelBytes(uint64_t bytes);
void ReleasePixelBytes(uint64_t bytes);
uint64_t HeldPixelBytes();

// Whether a working buffer of this many bytes fits beside the pixel buffers
// held. Decoders ask before allocating what a file's header sizes.
bool WorkingBytesFit(uint64_t bytes);
// The same for count × size bytes, refusing a product that overflows.
bool WorkingBytesFit(uint64_t count, uint64_t size);
