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
