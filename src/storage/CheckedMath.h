#pragma once
// Checked arithmetic for addresses computed from values read off a disk or out of a file.

#include <cstdint>
#include <optional>

namespace corvale {

inline std::optional<uint64_t> checkedAdd(uint64_t a, uint64_t b) {
  uint64_t r;
  if (__builtin_add_overflow(a, b, &r)) return std::nullopt;
  return r;
}

inline std::optional<uint64_t> checkedMul(uint64_t a, uint64_t b) {
  uint64_t r;
  if (__builtin_mul_overflow(a, b, &r)) return std::nullopt;
  return r;
}

// True when [offset, offset + length) lies inside [0, limit), checked in subtraction form.
inline bool rangeFits(uint64_t offset, uint64_t length, uint64_t limit) {
  return offset <= limit && length <= limit - offset;
}

}  // namespace corvale
