#pragma once
// Directory entries made by hand, for the cases no tool writes: damaged names, foreign long-name
// pieces, names split in odd places.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fat/FATDirEntry.h"
#include "storage/ByteReader.h"

namespace fattest {

// 2024-05-17 10:20:30.
inline constexpr uint16_t kSomeDate = (44 << 9) | (5 << 5) | 17;
inline constexpr uint16_t kSomeTime = (10 << 11) | (20 << 5) | 15;

inline std::vector<uint8_t> ShortEntry(const char* name11, uint8_t attributes, uint32_t cluster,
                                       uint32_t size, uint8_t caseFlags = 0) {
  std::vector<uint8_t> e(32, 0);
  std::memcpy(e.data(), name11, 11);
  e[11] = attributes;
  e[12] = caseFlags;
  corvale::putLE(&e[14], kSomeTime, 2);
  corvale::putLE(&e[16], kSomeDate, 2);
  corvale::putLE(&e[18], kSomeDate, 2);
  corvale::putLE(&e[20], cluster >> 16, 2);
  corvale::putLE(&e[22], kSomeTime, 2);
  corvale::putLE(&e[24], kSomeDate, 2);
  corvale::putLE(&e[26], cluster & 0xFFFF, 2);
  corvale::putLE(&e[28], size, 4);
  return e;
}

inline uint8_t Checksum(const std::vector<uint8_t>& shortEntry) {
  return CFATDirEntry(shortEntry.data()).ShortNameChecksum();
}

// The pieces of `name` in the order they lie on disk (the last piece first), as Windows writes them.
inline std::vector<uint8_t> LongNamePieces(const std::u16string& name, uint8_t checksum) {
  static constexpr size_t kUnitOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  const size_t pieces = (name.size() + 12) / 13;
  std::vector<uint8_t> out;
  for (size_t p = pieces; p-- > 0;) {
    std::vector<uint8_t> e(32, 0);
    e[0] = static_cast<uint8_t>((p + 1) | (p + 1 == pieces ? 0x40 : 0));
    e[11] = 0x0F;
    e[13] = checksum;
    for (size_t i = 0; i < 13; ++i) {
      const size_t at = p * 13 + i;
      const uint16_t unit = at < name.size() ? name[at] : at == name.size() ? 0 : 0xFFFF;
      corvale::putLE(&e[kUnitOffsets[i]], unit, 2);
    }
    out.insert(out.end(), e.begin(), e.end());
  }
  return out;
}

inline std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace fattest
