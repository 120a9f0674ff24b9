#pragma once
// A little-endian view over bytes that knows its bounds. On-disk structures are read through it;
// nothing casts a packed struct over a buffer. Out-of-range reads answer 0; call has() first where
// the difference matters.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "storage/CheckedMath.h"

namespace corvale {

class ByteReader {
 public:
  ByteReader() = default;
  ByteReader(const void* data, size_t size) : m_data(static_cast<const uint8_t*>(data)), m_size(size) {}
  explicit ByteReader(std::span<const uint8_t> bytes) : m_data(bytes.data()), m_size(bytes.size()) {}

  size_t size() const { return m_size; }
  const uint8_t* data() const { return m_data; }
  bool has(uint64_t offset, uint64_t length) const { return rangeFits(offset, length, m_size); }

  uint8_t u8(uint64_t o) const { return has(o, 1) ? m_data[o] : 0; }
  uint16_t u16(uint64_t o) const { return static_cast<uint16_t>(le(o, 2)); }
  uint32_t u32(uint64_t o) const { return static_cast<uint32_t>(le(o, 4)); }
  uint64_t u48(uint64_t o) const { return le(o, 6); }
  uint64_t u64(uint64_t o) const { return le(o, 8); }
  uint16_t be16(uint64_t o) const { return static_cast<uint16_t>(be(o, 2)); }
  uint32_t be32(uint64_t o) const { return static_cast<uint32_t>(be(o, 4)); }
  uint64_t be64(uint64_t o) const { return be(o, 8); }

  // A view of [offset, offset + length), empty when that range does not fit.
  ByteReader sub(uint64_t offset, uint64_t length) const {
    if (!has(offset, length)) return {};
    return ByteReader(m_data + offset, static_cast<size_t>(length));
  }

 private:
  uint64_t le(uint64_t o, unsigned n) const {
    if (!has(o, n)) return 0;
    uint64_t v = 0;
    for (unsigned i = 0; i < n; ++i) v |= static_cast<uint64_t>(m_data[o + i]) << (8 * i);
    return v;
  }
  uint64_t be(uint64_t o, unsigned n) const {
    if (!has(o, n)) return 0;
    uint64_t v = 0;
    for (unsigned i = 0; i < n; ++i) v = (v << 8) | m_data[o + i];
    return v;
  }

  const uint8_t* m_data = nullptr;
  size_t m_size = 0;
};

// Little-endian writers for the serialisers of stored records.
inline void putLE(uint8_t* p, uint64_t v, unsigned n) {
  for (unsigned i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace corvale
