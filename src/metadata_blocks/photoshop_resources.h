// The shape of a Photoshop image resources block (IPTC records, resolution,
// slices and the like, each a resource of its own).
#pragma once

#include <cstdint>
#include <span>

// Whether the block is a run of whole resources: each a known signature
// ("8BIM", ImageReady's "MeSa" and the few others), an id, a name (a Pascal
// string padded to an even length) and a 4-byte size of data padded to an
// even length (the last resource's padding may be missing), the last ending
// at the block's end or followed by zero bytes alone. A block that does not hold together is left
// out of a copy rather than carried with its damage.
bool PhotoshopBlockHoldsTogether(std::span<const uint8_t> block);
