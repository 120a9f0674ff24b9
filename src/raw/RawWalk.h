#pragma once
// Small helpers the analysers' length walks share.

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "raw/RawSectorReader.h"

namespace corvale {

// How far a walk over `reader` may go, and the largest length a walk gives a file: the size limit
// of walks, and the device's end.
inline uint64_t WalkCap(const CRawSectorReader& reader) {
  return std::min(RawWalkLimit(), reader.BytesToDeviceEnd());
}

inline bool SameText(const uint8_t* p, const char* text, size_t n) { return std::memcmp(p, text, n) == 0; }

// Compares ASCII letters without regard to case.
inline bool SameTextNoCase(const uint8_t* p, const char* text, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    uint8_t a = p[i], b = static_cast<uint8_t>(text[i]);
    if (a >= 'A' && a <= 'Z') a = static_cast<uint8_t>(a + 32);
    if (b >= 'A' && b <= 'Z') b = static_cast<uint8_t>(b + 32);
    if (a != b) return false;
  }
  return true;
}

}  // namespace corvale

class CRawFileInfo;
class IStorageDevice;

namespace corvale {

// Sizes a file that ends with a known trailer: looks for `pattern` (at most 64 bytes, compared
// without regard to case) from the file's start, one byte at a time. Found: the file ends after it.
// Not found by the time the position passes `limit` (0 takes the size limit of walks): the file
// ends there. A read that fails, or the device's end, before either answers false.
bool FindTrailer(CRawFileInfo* file, IStorageDevice* device, const char* pattern, size_t length,
                 uint64_t limit = 0);

}  // namespace corvale
