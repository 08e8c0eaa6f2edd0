// Building PNG chunks for insertion into an encoded PNG file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/codec.h"

// Signature, then the header chunk: length, "IHDR", 13 bytes, CRC.
constexpr size_t kPngHeaderChunkEnd = 8 + 4 + 4 + 13 + 4;

bool IsPngFile(ByteSpan file);
// A PNG file that begins with its header chunk, after which chunks may be
// inserted.
bool HasPngHeaderChunk(ByteSpan png);
void AppendBytes(std::vector<uint8_t>* out, const void* data, size_t size);
// Appends a whole chunk: length, name, data and CRC.
void AppendPngChunk(std::vector<uint8_t>* out, const char (&name)[5], const uint8_t* data,
                    size_t size);
