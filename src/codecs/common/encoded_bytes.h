// Room for an encoder's output, reserved before it starts.
#pragma once

#include <cstdint>
#include <vector>

// Reserves room for an encoded file of at most about rawBytes (the image's
// packed size) plus its headers, so that the file grows in place: pages of
// the reservation that are never written are never touched. Without the
// room nothing is reserved and the file grows as usual.
void ReserveEncodedBytes(std::vector<uint8_t>* out, int64_t rawBytes);
