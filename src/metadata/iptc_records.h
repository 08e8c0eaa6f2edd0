// The IPTC records (IIM datasets) as a JPEG's Photoshop resource or a TIFF
// tag stores them, taken apart one dataset at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

// The datasets of records for which keep(record, dataset) holds, each byte
// for byte and in order. Reading stops at the first dataset that does not
// hold together: what follows it is left out.
std::vector<uint8_t> IptcRecordsWhere(std::span<const uint8_t> records,
                                      const std::function<bool(uint8_t, uint8_t)>& keep);

// The datasets that say who made the picture and who holds its rights:
// 2:80 (by-line) and 2:116 (copyright notice).
bool IsIptcCopyright(uint8_t record, uint8_t dataset);
