#pragma once
// FILE records built byte by byte, for what no tool writes: attribute lists that loop, extension
// records of another file, oversized lists. Records are 1024 bytes in the newer header layout, with
// the update-sequence protection in place as on disk.

#include <cstdint>
#include <string>
#include <vector>

#include "ntfs/FileRecordHeader.h"
#include "storage/ByteReader.h"

namespace handmade {

inline void Put(std::vector<uint8_t>& b, size_t offset, uint64_t value, unsigned n) {
  corvale::putLE(b.data() + offset, value, n);
}

class Record {
 public:
  explicit Record(uint32_t number, uint64_t baseReference = 0, uint16_t flags = 0x0001) : m_bytes(1024, 0) {
    m_bytes[0] = 'F';
    m_bytes[1] = 'I';
    m_bytes[2] = 'L';
    m_bytes[3] = 'E';
    Put(m_bytes, 0x04, 48, 2);    // update-sequence offset
    Put(m_bytes, 0x06, 3, 2);     // count: sequence number and two strides
    Put(m_bytes, 0x10, 1, 2);     // sequence number
    Put(m_bytes, 0x12, 1, 2);     // link count
    Put(m_bytes, 0x14, 0x38, 2);  // first attribute
    Put(m_bytes, 0x16, flags, 2);
    Put(m_bytes, 0x1C, 1024, 4);  // bytes allocated
    Put(m_bytes, 0x20, baseReference, 8);
    Put(m_bytes, 0x2C, number, 4);
    Put(m_bytes, 48, 0x0101, 2);  // update sequence number
    m_next = 0x38;
  }

  // A resident attribute holding `value`; returns its offset.
  size_t AddResident(uint32_t type, const std::vector<uint8_t>& value) {
    size_t length = (0x18 + value.size() + 7) / 8 * 8;
    size_t at = m_next;
    Put(m_bytes, at, type, 4);
    Put(m_bytes, at + 4, length, 4);
    Put(m_bytes, at + 0x10, value.size(), 4);
    Put(m_bytes, at + 0x14, 0x18, 2);
    std::copy(value.begin(), value.end(), m_bytes.begin() + at + 0x18);
    m_next += length;
    return at;
  }

  // A non-resident attribute with the given sizes and run string; returns its offset.
  size_t AddNonResident(uint32_t type, int64_t allocated, int64_t dataSize, int64_t initialized,
                        const std::vector<uint8_t>& runs, int64_t highestVcn = 0) {
    size_t length = (0x40 + runs.size() + 7) / 8 * 8;
    size_t at = m_next;
    Put(m_bytes, at, type, 4);
    Put(m_bytes, at + 4, length, 4);
    m_bytes[at + 8] = 1;
    Put(m_bytes, at + 0x18, static_cast<uint64_t>(highestVcn), 8);
    Put(m_bytes, at + 0x20, 0x40, 2);
    Put(m_bytes, at + 0x28, static_cast<uint64_t>(allocated), 8);
    Put(m_bytes, at + 0x30, static_cast<uint64_t>(dataSize), 8);
    Put(m_bytes, at + 0x38, static_cast<uint64_t>(initialized), 8);
    std::copy(runs.begin(), runs.end(), m_bytes.begin() + at + 0x40);
    m_next += length;
    return at;
  }

  // The end marker, bytes in use, and the sector ends swapped into the update-sequence array.
  std::vector<uint8_t> Finish() {
    Put(m_bytes, m_next, 0xFFFFFFFF, 4);
    Put(m_bytes, 0x18, m_next + 8, 4);
    std::vector<uint8_t> out = m_bytes;
    RestoreFileRecordFixup(out.data(), out.size());
    return out;
  }

 private:
  std::vector<uint8_t> m_bytes;
  size_t m_next;
};

// A $FILE_NAME value: parent reference, sizes, Win32 namespace and an ASCII name.
inline std::vector<uint8_t> FileNameValue(uint64_t parent, const std::string& name, int64_t allocated = 0,
                                          int64_t dataSize = 0) {
  std::vector<uint8_t> v(0x42 + 2 * name.size(), 0);
  Put(v, 0x00, parent, 8);
  Put(v, 0x28, static_cast<uint64_t>(allocated), 8);
  Put(v, 0x30, static_cast<uint64_t>(dataSize), 8);
  v[0x40] = static_cast<uint8_t>(name.size());
  v[0x41] = 1;
  for (size_t i = 0; i < name.size(); ++i) v[0x42 + 2 * i] = static_cast<uint8_t>(name[i]);
  return v;
}

// A $STANDARD_INFORMATION value with the given flags.
inline std::vector<uint8_t> StandardInformationValue(uint32_t flags) {
  std::vector<uint8_t> v(0x48, 0);
  Put(v, 0x20, flags, 4);
  return v;
}

// An $ATTRIBUTE_LIST value naming (type, record number) pairs.
inline std::vector<uint8_t> AttributeListValue(const std::vector<std::pair<uint32_t, uint64_t>>& entries) {
  std::vector<uint8_t> v;
  for (const auto& [type, record] : entries) {
    std::vector<uint8_t> e(0x20, 0);
    Put(e, 0x00, type, 4);
    Put(e, 0x04, 0x20, 2);
    e[0x07] = 0x1A;
    Put(e, 0x10, record | (uint64_t{1} << 48), 8);
    v.insert(v.end(), e.begin(), e.end());
  }
  return v;
}

}  // namespace handmade
