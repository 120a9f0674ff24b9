#pragma once
// Device contents for the device tests: every sector different from its neighbours, so a sector
// read from the wrong place shows.

#include <cstdint>
#include <vector>

inline std::vector<uint8_t> PatternBytes(uint64_t sectors, uint32_t sectorSize, uint8_t salt = 0) {
  std::vector<uint8_t> bytes(sectors * sectorSize);
  for (uint64_t s = 0; s < sectors; ++s) {
    for (uint32_t i = 0; i < sectorSize; ++i) {
      bytes[s * sectorSize + i] = static_cast<uint8_t>(s * 37 + i * 11 + (i >> 8) * 5 + salt);
    }
  }
  return bytes;
}

inline std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, uint64_t offset, uint64_t length) {
  return std::vector<uint8_t>(bytes.begin() + offset, bytes.begin() + offset + length);
}
